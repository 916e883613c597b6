#include "app/Log.h"

#include <stdarg.h>
#include <string.h>
#include <time.h>

uint32_t Log::package_bitmask = 0;
FILE* Log::fh = nullptr;
bool Log::timestamped = false;

bool Log::IsActive(unsigned package) { return package == 0 || (package & package_bitmask) != 0; }

void Log::log(unsigned package, const char* format, ...) {
  if (!IsActive(package) || !format) return;

  if (timestamped && strlen(format) > 10) {
    char stamp[128];
    time_t now = time(nullptr);
    struct tm utc;
    gmtime_r(&now, &utc);
    size_t n = strftime(stamp, sizeof stamp, TIMESTAMP_FORMAT, &utc);
    fwrite(stamp, 1, n, stdout);
    fputs(SEPARATOR, stdout);
  }

  char text[2048];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0 || !fh) return;
  size_t length = size_t(n) < sizeof text ? size_t(n) : sizeof text - 1;
  // One fwrite per line keeps lines from other threads whole.
  fwrite(text, 1, length, fh);
}

void Log::SetOutput(FILE* out) { fh = out; }

void Log::ActivatePackage(uint32_t mask) { package_bitmask |= mask; }

void Log::DeactivatePackage(uint32_t mask) { package_bitmask &= ~mask; }

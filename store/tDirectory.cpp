#include "store/tDirectory.h"

#include <errno.h>
#include <pwd.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

tErr tDirectory_GetHomeDirectory(char* buffer, size_t length) {
  if (!buffer || length == 0) return tErrNone;
  const char* home = nullptr;
  if (const struct passwd* pw = getpwuid(getuid())) home = pw->pw_dir;
  if (!home || !*home) home = getenv("HOME");
  if (!home || !*home) home = ".";
  strncpy(buffer, home, length - 1);
  buffer[length - 1] = '\0';
  return tErrNone;
}

bool tDirectory_Exists(const char* path) {
  struct stat st;
  return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// mkdir that tolerates a directory appearing under our feet.
bool sMakeDirectory(const char* path, mode_t mode) {
  if (tDirectory_Exists(path)) return true;
  return mkdir(path, mode) == 0 || errno == EEXIST;
}

}  // namespace

tErr tDirectory_Ensure(const char* path, mode_t mode) {
  if (!path || !*path) return tErrPermission;
  if (tDirectory_Exists(path)) return tErrNone;

  std::string copy(path);
  const char sep = tDIR_PATH_SEP[0];

  // Find the deepest ancestor that already exists; create from just after it.
  size_t start = 0;
  for (size_t cut = copy.rfind(sep); cut != std::string::npos && cut > 0;
       cut = copy.rfind(sep, cut - 1)) {
    if (tDirectory_Exists(copy.substr(0, cut).c_str())) {
      start = cut + 1;
      break;
    }
  }

  tErr result = tErrNone;
  for (size_t cut = copy.find(sep, start); cut != std::string::npos;
       cut = copy.find(sep, cut + 1)) {
    if (cut == 0 || copy[cut - 1] == sep) continue;  // root or empty component
    if (!sMakeDirectory(copy.substr(0, cut).c_str(), mode)) {
      result = tErrPermission;
      break;
    }
  }
  if (!sMakeDirectory(path, mode)) return tErrPermission;
  return result;
}

std::string BuildPath(const char* first, ...) {
  std::string path(first ? first : "");
  va_list args;
  va_start(args, first);
  while (const char* component = va_arg(args, const char*)) {
    path += tDIR_PATH_SEP;
    path += component;
  }
  va_end(args);
  return path;
}

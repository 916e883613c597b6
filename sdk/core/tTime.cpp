#include "sdk/core/tTime.h"

#include <errno.h>
#include <sys/time.h>
#include <time.h>

namespace {

// One step of at most 999999 microseconds, resumed after a signal.
void osMSSleep(uint32_t us) {
  struct timespec ts = {0, static_cast<long>(us) * 1000};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace

uint64_t tTime_GetMSTicks(void) {
  struct timeval tv;
  if (gettimeofday(&tv, NULL) != 0) return 0;
  return static_cast<uint64_t>(tv.tv_sec) * 1000u + static_cast<uint64_t>(tv.tv_usec) / 1000u;
}

uint64_t tTime_GetMonotonicMSTicks(void) {
  struct timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return 0;
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void tTime_MSSleep(uint32_t ms) {
  uint64_t us = static_cast<uint64_t>(ms) * 1000u;
  while (us > 0) {
    uint32_t step = us > 999999u ? 999999u : static_cast<uint32_t>(us);
    osMSSleep(step);
    us -= step;
  }
}

// The processor time a test's own process has used: how tests tell an idle
// thread from one that spins or polls.
#pragma once

#include <sys/resource.h>

namespace qntest {

// Processor time this process has used so far (user and system), in seconds.
inline double CpuSeconds() {
  struct rusage r;
  getrusage(RUSAGE_SELF, &r);
  return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

}  // namespace qntest

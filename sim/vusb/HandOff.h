// ThreadSanitizer sees no synchronisation inside glib, which takes its locks
// with futexes of its own. Data one thread hands the testbed's worker thread
// (a signal handler's data, connected on one thread and called on the other)
// would look unsynchronised to it; these marks name the hand-off. Without
// ThreadSanitizer they are nothing.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define QN_SIM_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QN_SIM_TSAN 1
#endif
#endif

#ifdef QN_SIM_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace qnsim {

// Before the other thread can see `object`.
inline void HandOver(void* object) {
#ifdef QN_SIM_TSAN
  __tsan_release(object);
#else
  (void)object;
#endif
}

// On the other thread, before it first touches `object`.
inline void TakeOver(void* object) {
#ifdef QN_SIM_TSAN
  __tsan_acquire(object);
#else
  (void)object;
#endif
}

}  // namespace qnsim

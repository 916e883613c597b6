#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <string>

#include "sdk/core/tMutex.h"
#include "sdk/core/tThread.h"
#include "sdk/core/tTime.h"

namespace {

TEST(Mutex, NameLengthLimit) {
  std::string longest(255, 'n');
  tMutex* m = tMutex_Create(longest.c_str());
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(longest, tMutex_Identifier(m));
  EXPECT_EQ(tMutex_Destroy(&m), tErrNone);
  EXPECT_EQ(m, nullptr);
  std::string tooLong(256, 'n');
  EXPECT_EQ(tMutex_Create(tooLong.c_str()), nullptr);
  tMutex* unnamed = tMutex_Create(nullptr);
  ASSERT_NE(unnamed, nullptr);
  EXPECT_STREQ(tMutex_Identifier(unnamed), "");
  tMutex_Destroy(&unnamed);
}

struct TryLockArgs {
  tMutex* mutex;
  tErr result;
};

void* sTryLockFromAnotherThread(void* arg) {
  TryLockArgs* a = static_cast<TryLockArgs*>(arg);
  a->result = tMutex_TryLock(a->mutex);
  if (a->result == tErrNone) tMutex_Unlock(a->mutex);
  return nullptr;
}

TEST(Mutex, TryLockSeesAHeldMutexAndDestroyRefusesIt) {
  tMutex* m = tMutex_Create("held");
  ASSERT_EQ(tMutex_Lock(m), tErrNone);
  TryLockArgs args = {m, tErrUnknown};
  tThread* t = tThread_Create(sTryLockFromAnotherThread, &args);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(tThread_Destroy(&t), 0);
  EXPECT_EQ(args.result, tErrBusy);
  EXPECT_EQ(tMutex_Destroy(&m), tErrBusy);
  EXPECT_NE(m, nullptr);
  ASSERT_EQ(tMutex_Unlock(m), tErrNone);
  t = tThread_Create(sTryLockFromAnotherThread, &args);
  tThread_Destroy(&t);
  EXPECT_EQ(args.result, tErrNone);
  EXPECT_EQ(tMutex_Destroy(&m), tErrNone);
}

TEST(Mutex, NullHandleIsAParameterError) {
  EXPECT_EQ(tMutex_Lock(nullptr), tErrParam);
  EXPECT_EQ(tMutex_TryLock(nullptr), tErrParam);
  EXPECT_EQ(tMutex_Unlock(nullptr), tErrParam);
  EXPECT_EQ(tMutex_Destroy(nullptr), tErrParam);
  tMutex* none = nullptr;
  EXPECT_EQ(tMutex_Destroy(&none), tErrParam);
}

struct Counter {
  tMutex* mutex;
  long value;
};

void* sCount(void* arg) {
  Counter* c = static_cast<Counter*>(arg);
  for (int i = 0; i < 20000; i++) {
    tMutex_Lock(c->mutex);
    c->value++;
    tMutex_Unlock(c->mutex);
  }
  return nullptr;
}

TEST(Thread, ThreadsRunAndJoin) {
  Counter c = {tMutex_Create("counter"), 0};
  tThread* a = tThread_Create(sCount, &c);
  tThread* b = tThread_Create(sCount, &c);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(tThread_Destroy(&a), 0);
  EXPECT_EQ(tThread_Destroy(&b), 0);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(c.value, 40000);
  tMutex_Destroy(&c.mutex);
  EXPECT_EQ(tThread_Create(nullptr, nullptr), nullptr);
  EXPECT_NE(tThread_Destroy(&a), 0);
}

TEST(Time, TicksFollowTheTimeOfDay) {
  uint64_t ticks = tTime_GetMSTicks();
  uint64_t seconds = static_cast<uint64_t>(time(nullptr));
  EXPECT_NEAR(static_cast<double>(ticks / 1000), static_cast<double>(seconds), 2.0);
}

TEST(Time, SleepLastsAtLeastItsTimeAndZeroReturnsAtOnce) {
  uint64_t start = tTime_GetMonotonicMSTicks();
  tTime_MSSleep(0);
  EXPECT_LT(tTime_GetMonotonicMSTicks() - start, 1000u);  // generous: it must not hang
  start = tTime_GetMonotonicMSTicks();
  tTime_MSSleep(30);
  EXPECT_GE(tTime_GetMonotonicMSTicks() - start, 29u);
  start = tTime_GetMonotonicMSTicks();
  tThread_Yield();
  EXPECT_LT(tTime_GetMonotonicMSTicks() - start, 1000u);
}

}  // namespace

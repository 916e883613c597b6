#include "sdk/core/tWatch.h"

#include <gtest/gtest.h>

#include "sdk/core/tTime.h"

namespace {

// What a watch is waiting for: it comes at the readyAt-th look (0: never).
struct Awaited {
  int looks = 0;
  int readyAt = 0;
};

uint8_t Ready(void* ref) {
  auto* a = static_cast<Awaited*>(ref);
  a->looks++;
  return a->readyAt != 0 && a->looks >= a->readyAt;
}

// One wait that sleeps after its look and ends at once: the next look gets
// the full budget. A thread preempted for long between the two calls makes
// the wait a long one, so it is tried a few times.
bool ShortWaitEnablesLooking(tWatch* w) {
  for (int i = 0; i < 50; i++) {
    Awaited none;
    if (!tWatch_Look(w, Ready, &none)) tWatch_Slept(w);
    if (w->budgetNs == tWATCH_LOOK_NS) return true;
  }
  return false;
}

TEST(Watch, ANewWatchSleepsAtOnce) {
  tWatch w;
  tWatch_Init(&w);
  Awaited a;
  a.readyAt = 1;
  EXPECT_EQ(tWatch_Look(&w, Ready, &a), 0);
  EXPECT_EQ(a.looks, 0);
}

// The look is bounded in time, so a thread preempted for long during it may
// run out of budget first; it is tried a few times.
TEST(Watch, AfterAShortWaitItLooksUntilWhatItAwaitsIsThere) {
  bool found = false;
  for (int i = 0; i < 20 && !found; i++) {
    tWatch w;
    tWatch_Init(&w);
    ASSERT_TRUE(ShortWaitEnablesLooking(&w));
    Awaited a;
    a.readyAt = 3;
    found = tWatch_Look(&w, Ready, &a) != 0;
    if (!found) continue;
    EXPECT_EQ(a.looks, 3);
    EXPECT_EQ(w.budgetNs, tWATCH_LOOK_NS);  // a look that found it keeps its budget
  }
  EXPECT_TRUE(found);
}

TEST(Watch, ALookThatFindsNothingEndsAfterItsBudget) {
  tWatch w;
  tWatch_Init(&w);
  ASSERT_TRUE(ShortWaitEnablesLooking(&w));
  Awaited never;
  const uint64_t start = tTime_GetMonotonicMSTicks();
  EXPECT_EQ(tWatch_Look(&w, Ready, &never), 0);
  EXPECT_LT(tTime_GetMonotonicMSTicks() - start, 2000u);  // generous: it must not hang
  EXPECT_GE(never.looks, 1);
}

// On a quiet line every wait is long, and the look shrinks away.
TEST(Watch, LongWaitsHalveTheBudgetDownToNoLookAtAll) {
  tWatch w;
  tWatch_Init(&w);
  ASSERT_TRUE(ShortWaitEnablesLooking(&w));
  int64_t before = w.budgetNs;
  for (int i = 0; i < 10 && w.budgetNs > 0; i++) {
    Awaited never;
    EXPECT_EQ(tWatch_Look(&w, Ready, &never), 0);
    tTime_MSSleep(1);  // longer than an exchange's wait
    tWatch_Slept(&w);
    EXPECT_TRUE(w.budgetNs == before / 2 || (w.budgetNs == 0 && before / 2 < tWATCH_LEAST_NS));
    before = w.budgetNs;
  }
  EXPECT_EQ(w.budgetNs, 0);
  Awaited a;
  a.readyAt = 1;
  EXPECT_EQ(tWatch_Look(&w, Ready, &a), 0);
  EXPECT_EQ(a.looks, 0);
  EXPECT_TRUE(ShortWaitEnablesLooking(&w));  // and an exchange brings it back
}

TEST(Watch, NullArgumentsAreRefused) {
  tWatch_Init(nullptr);
  tWatch_Slept(nullptr);
  Awaited a;
  a.readyAt = 1;
  EXPECT_EQ(tWatch_Look(nullptr, Ready, &a), 0);
  EXPECT_EQ(a.looks, 0);
  tWatch w;
  tWatch_Init(&w);
  EXPECT_EQ(tWatch_Look(&w, nullptr, &a), 0);
}

}  // namespace

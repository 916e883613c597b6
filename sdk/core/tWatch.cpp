#include "sdk/core/tWatch.h"

#include <sched.h>

#include <chrono>

namespace {

int64_t sNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void tWatch_Init(tWatch* w) {
  if (w == nullptr) return;
  w->budgetNs = 0;
  w->startNs = 0;
}

uint8_t tWatch_Look(tWatch* w, tWatchReadyProc ready, void* ref) {
  if (w == nullptr || ready == nullptr) return 0;
  const int64_t start = sNowNs();
  w->startNs = start;
  const int64_t budget = w->budgetNs;
  if (budget <= 0) return 0;
  const int64_t end = start + budget;
  for (;;) {
    const uint8_t answer = ready(ref);
    if (answer != 0) return answer;
    if (sNowNs() >= end) return 0;
    sched_yield();
  }
}

void tWatch_Slept(tWatch* w) {
  if (w == nullptr) return;
  if (sNowNs() - w->startNs <= tWATCH_BUSY_NS) {
    w->budgetNs = tWATCH_LOOK_NS;
    return;
  }
  const int64_t halved = w->budgetNs / 2;
  w->budgetNs = halved < tWATCH_LEAST_NS ? 0 : halved;
}

// A short look before a sleep. A thread that waits for the next step of an
// exchange (the reply to a request, the next request after a reply) usually
// gets it within microseconds. Sleeping at once costs a wake-up instead, and
// when the processor has gone idle meanwhile that wake-up is slow: 20 to 40
// us on a small virtual machine, longer than the step itself. So a waiter
// first looks for what it awaits for a while, giving the processor to any
// other thread that wants it between looks, and only then sleeps.
//
// The look adapts, so that it costs nothing on a quiet line: it lasts up to
// tWATCH_LOOK_NS while waits keep ending within tWATCH_BUSY_NS (an exchange
// is going on), and halves after every wait that lasted longer, down to no
// look at all. A new watch does not look until a short wait has been seen.
//
// A watch is meant for one waiting thread; two at once (a stream waited on
// by its reader and by a caller) only blur its budget, as its fields are
// atomic.
#pragma once

#include <stdint.h>

#include <atomic>

#define tWATCH_LOOK_NS 50000   // longest look
#define tWATCH_BUSY_NS 200000  // a wait that ends this soon is part of an exchange
#define tWATCH_LEAST_NS 5000   // a budget below this means no look

// Non-zero when what the waiter awaits is there (it may take it into ref).
typedef uint8_t (*tWatchReadyProc)(void* ref);

typedef struct tWatch {
  std::atomic<int64_t> budgetNs;  // how long the next look may last; 0: sleep at once
  std::atomic<int64_t> startNs;   // when the current wait began (monotonic clock)
} tWatch;

// A watch that does not look yet.
void tWatch_Init(tWatch* w);

// Begins a wait: calls ready(ref) until it answers non-zero or the budget is
// spent, yielding the processor after each call that answers 0. Returns the
// last answer: non-zero ends the wait. 0 means the caller now sleeps the
// usual way and then calls tWatch_Slept. A null watch or ready returns 0.
uint8_t tWatch_Look(tWatch* w, tWatchReadyProc ready, void* ref);

// Ends a wait that slept after tWatch_Look returned 0, whether the sleep
// ended with what was awaited or with its timeout: a wait that ended within
// tWATCH_BUSY_NS of its start gives the next look the full budget, a longer
// one halves it. Null is ignored.
void tWatch_Slept(tWatch* w);

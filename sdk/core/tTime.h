// Clock and sleep.
#pragma once

#include <stdint.h>

// Wall-clock milliseconds: seconds * 1000 + microseconds / 1000 of the time
// of day. 0 when the clock cannot be read. The wall clock can step; code that
// measures an interval uses tTime_GetMonotonicMSTicks.
uint64_t tTime_GetMSTicks(void);

// Milliseconds of a clock that never steps (since an arbitrary origin), for
// timeouts and elapsed times.
uint64_t tTime_GetMonotonicMSTicks(void);

// Sleeps ms milliseconds, in steps of at most 999999 microseconds; a signal
// does not cut the sleep short. 0 returns at once.
void tTime_MSSleep(uint32_t ms);

// The 128-bit identity of a module's microcontroller: sent to the update
// server to name a recovery image, and the key of firmware block decoding.
#pragma once

#include <stdint.h>

struct Fingerprint {
  uint32_t words[4] = {0, 0, 0, 0};
};

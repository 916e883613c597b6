// The read loop of the simulator's pseudo-terminals: reads a descriptor
// until a wake-up descriptor turns readable, handing each chunk on.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>

namespace qnsim {

void PumpUntilWoken(int fd, int wakeFd, const std::function<void(const uint8_t* data, size_t length)>& chunk);

}  // namespace qnsim

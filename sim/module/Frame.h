// One device packet as the simulated module handles it: the module address
// and the payload (0 to 28 bytes).
#pragma once

#include <stdint.h>

#include <initializer_list>
#include <vector>

namespace qnsim {

struct Frame {
  uint8_t address = 0;
  std::vector<uint8_t> payload;

  Frame() = default;
  Frame(uint8_t a, std::vector<uint8_t> p) : address(a), payload(std::move(p)) {}
  Frame(uint8_t a, std::initializer_list<uint8_t> p) : address(a), payload(p) {}

  // The serialised form: address, length, payload.
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> b;
    b.reserve(payload.size() + 2);
    b.push_back(address);
    b.push_back(static_cast<uint8_t>(payload.size()));
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
  }
};

using Frames = std::vector<Frame>;

}  // namespace qnsim

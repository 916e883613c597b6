#include "sim/lpc/LpcUu.h"

namespace lpcsim {

namespace {

char Sextet(uint32_t v) { return v == 0 ? '`' : static_cast<char>(v + 32); }

uint32_t Value(char c) { return static_cast<uint32_t>(static_cast<unsigned char>(c) - 32) & 0x3F; }

}  // namespace

std::string UuEncodeLine(const uint8_t* data, size_t n) {
  std::string line(1, Sextet(static_cast<uint32_t>(n)));
  for (size_t i = 0; i < n; i += 3) {
    uint32_t group = static_cast<uint32_t>(data[i]) << 16;
    if (i + 1 < n) group |= static_cast<uint32_t>(data[i + 1]) << 8;
    if (i + 2 < n) group |= data[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) line += Sextet((group >> shift) & 0x3F);
  }
  return line;
}

bool UuDecodeLine(const std::string& line, std::vector<uint8_t>* out) {
  out->clear();
  if (line.empty()) return false;
  size_t n = Value(line[0]);
  size_t groups = (n + 2) / 3;
  if (line.size() < 1 + groups * 4) return false;
  for (size_t g = 0; g < groups; g++) {
    uint32_t v = 0;
    for (int k = 0; k < 4; k++) v = (v << 6) | Value(line[1 + g * 4 + k]);
    for (int k = 0; k < 3 && out->size() < n; k++) out->push_back(static_cast<uint8_t>(v >> (16 - 8 * k)));
  }
  return true;
}

}  // namespace lpcsim

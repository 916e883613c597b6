// The simulator's own uuencoding of ISP data lines: a length character
// (n + 32), then four characters per three bytes, each six-bit value v
// written as v + 32 and 0 as the grave accent. Decoding takes either form of
// zero. Kept apart from the host driver's code so that each checks the other.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace lpcsim {

// One line (without line end) of at most 45 bytes.
std::string UuEncodeLine(const uint8_t* data, size_t n);

// Decodes one line; false when it is empty or its length character claims
// more bytes than its characters hold.
bool UuDecodeLine(const std::string& line, std::vector<uint8_t>* out);

}  // namespace lpcsim

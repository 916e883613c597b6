// uudecode of ISP data lines: the first byte of the input is the room, the
// rest the line. The output buffer is exactly `room` bytes, so a write past
// it is caught; the line is a copy of exactly its length plus the NUL.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "app/Log.h"
#include "recovery/NXPSerialClass.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  unsigned room = data[0] % 64;
  std::vector<char> line(data + 1, data + size);
  line.push_back('\0');
  uint8_t* out = static_cast<uint8_t*>(malloc(room > 0 ? room : 1));
  unsigned n = NXPSerialClass::uudecode(out, room, line.data());
  if (n > room) abort();
  if (n > 0 && n <= NXPSerialClass::MAX_BYTES_PER_LINE) {
    // What decodes, encodes back to a line that decodes the same (a count
    // character may claim up to 63 bytes; a line of ours holds 45).
    char encoded[64];
    NXPSerialClass::uuencode(encoded, out, n);
    std::vector<uint8_t> back(n);
    if (NXPSerialClass::uudecode(back.data(), n, encoded) != n || memcmp(back.data(), out, n) != 0) abort();
  }
  free(out);
  return 0;
}

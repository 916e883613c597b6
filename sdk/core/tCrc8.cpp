#include "sdk/core/tCrc8.h"

namespace {

struct sTable {
  uint8_t entry[256];
};

constexpr sTable sBuildTable() {
  sTable t = {};
  for (int i = 0; i < 256; i++) {
    uint8_t crc = static_cast<uint8_t>(i);
    for (int bit = 0; bit < 8; bit++) {
      crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C) : static_cast<uint8_t>(crc >> 1);
    }
    t.entry[i] = crc;
  }
  return t;
}

constexpr sTable sTableValue = sBuildTable();
static_assert(sTableValue.entry[1] == 0x5E && sTableValue.entry[255] == 0x35, "CRC-8/MAXIM-DOW table");

}  // namespace

#define E(i) sTableValue.entry[i]
#define E8(i) E(i), E(i + 1), E(i + 2), E(i + 3), E(i + 4), E(i + 5), E(i + 6), E(i + 7)
#define E64(i) E8(i), E8(i + 8), E8(i + 16), E8(i + 24), E8(i + 32), E8(i + 40), E8(i + 48), E8(i + 56)
const uint8_t _crc8LUT[256] = {E64(0), E64(64), E64(128), E64(192)};
#undef E64
#undef E8
#undef E

uint8_t crc8_update(uint8_t crc, uint8_t byte) { return _crc8LUT[crc ^ byte]; }

uint8_t crc8_create(const uint8_t* data, size_t length) {
  uint8_t crc = 0;
  if (data == NULL) return crc;
  for (size_t i = 0; i < length; i++) crc = crc8_update(crc, data[i]);
  return crc;
}

bool crc8_check(const uint8_t* data, size_t length, uint8_t expected) {
  return crc8_create(data, length) == expected;
}

#include "sdk/api/tUEI.h"

uint16_t tUEI_RetrieveShort(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void tUEI_StoreShort(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

uint32_t tUEI_RetrieveInt(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

void tUEI_StoreInt(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

void tUEI_ModifyIntBuffer(uint32_t* words, size_t count) {
  if (words == nullptr) return;
  uint8_t* bytes = reinterpret_cast<uint8_t*>(words);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t v = tUEI_RetrieveInt(bytes + 4 * i);
    words[i] = v;
  }
}

namespace {

// The last payload byte of a train packet, or nothing for an empty one.
bool sLastByte(const tPacket* p, uint8_t* out) {
  if (p == nullptr || p->length == 0 || p->length > tPACKET_MAX_DATA) return false;
  *out = p->data[p->length - 1];
  return true;
}

}  // namespace

uint8_t tUEI_getBytesSequence(const tPacket* p) {
  uint8_t last;
  return sLastByte(p, &last) ? static_cast<uint8_t>(last & 0x7F) : 0;
}

bool tUEI_getBytesContinue(const tPacket* p) {
  uint8_t last;
  return sLastByte(p, &last) && (last & UEI_BYTES_MORE) != 0;
}

bool tUEI_getBytesFullPacket(const tPacket* p) { return p != nullptr && (p->length == 27 || p->length == 28); }

bool tUEI_isNotUEIPayload(const tPacket* p) {
  if (p == nullptr) return false;
  switch (p->data[0]) {
    case 0: case 1: case 2: case 4: case 8: case 9: case 23: case 24: case 73: case 94: case 95:
    case 173: case 175:
      return true;
    default:
      return false;
  }
}

bool tUEI_isUEIPayload(const tPacket* p) { return p != nullptr && !tUEI_isNotUEIPayload(p); }

bool tUEI_isStreamPacket(const tPacket* p) {
  return p != nullptr && p->length > 4 && tUEI_isUEIPayload(p) && p->data[1] < 64 &&
         (p->data[2] & UEI_IDX_STREAM) != 0;
}

#include "sdk/core/tPacket.h"

#include <stdlib.h>
#include <string.h>

namespace {

const tPacket sTemplate = {tPACKETCHECK, 0, 0, 0, {0}};

// The count saturates one above the longest packet: it must stay above 30
// until a reset however many bytes follow, and an 8-bit counter that wrapped
// would start indexing the payload again.
const uint8_t sCountOverrun = tPACKET_MAX_BYTES + 1;

}  // namespace

tPacket* tPacket_Create(void) {
  tPacket* p = static_cast<tPacket*>(malloc(sizeof(tPacket)));
  if (p == NULL) return NULL;
  *p = sTemplate;
  return p;
}

tPacket* tPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data) {
  if (data == NULL || length > tPACKET_MAX_DATA) return NULL;
  tPacket* p = tPacket_Create();
  if (p == NULL) return NULL;
  p->address = address;
  p->length = length;
  p->count = 2;
  for (uint8_t i = 0; i < length; i++) {
    p->data[i] = data[i];
    p->count++;
  }
  return p;
}

tPacket* tPacket_Copy(const tPacket* p) {
  if (!tVALIDPACKET(p)) return NULL;
  return tPacket_CreateWithData(p->address, p->length, p->data);
}

tErr tPacket_Reset(tPacket* p) {
  if (!tVALIDPACKET(p)) return tErrParam;
  p->count = 0;
  p->address = 0;
  p->length = 0;
  memset(p->data, 0, sizeof(p->data));
  return tErrNone;
}

tErr tPacket_AddByte(tPacket* p, uint8_t byte) {
  if (!tVALIDPACKET(p)) return tErrParam;
  if (p->count >= sCountOverrun) return tErrOverrun;
  p->count++;
  if (p->count > tPACKET_MAX_BYTES) return tErrOverrun;
  if (p->address == 0) {
    if (byte == 0) return tErrPacket;
    p->address = byte;
    return tErrNone;
  }
  if (p->length == 0) {
    p->length = byte;
    return byte > tPACKET_MAX_DATA ? tErrPacket : tErrNone;
  }
  // A count below 3 here means the record was filled by hand out of order;
  // refuse rather than index before the payload.
  if (p->count > p->length + 2 || p->count < 3) return tErrPacket;
  p->data[p->count - 3] = byte;
  return tErrNone;
}

bool tPacket_IsComplete(const tPacket* p) {
  return tVALIDPACKET(p) && p->count == p->length + 2;
}

tErr tPacket_GetBytes(const tPacket* p, uint8_t* buffer, size_t bufferSize, size_t* outLength) {
  if (!tVALIDPACKET(p) || buffer == NULL) return tErrParam;
  // A length above 28 can only be a failed assembly; never copy past the
  // payload array.
  if (p->length > tPACKET_MAX_DATA) return tErrPacket;
  size_t n = static_cast<size_t>(p->length) + 2;
  if (bufferSize < n) return tErrOverrun;
  buffer[0] = p->address;
  buffer[1] = p->length;
  memcpy(buffer + 2, p->data, p->length);
  if (outLength != NULL) *outLength = n;
  return tErrNone;
}

namespace {

tErr sHeaderByte(const tPacket* p, uint8_t* out, uint8_t index, uint8_t mask) {
  if (out == NULL) return tErrParam;
  if (!tVALIDPACKET(p) || p->length <= index) return tErrPacket;
  *out = p->data[index] & mask;
  return tErrNone;
}

}  // namespace

tErr tPacket_GetCmd(const tPacket* p, uint8_t* out) { return sHeaderByte(p, out, 0, 0xFF); }
tErr tPacket_GetOption(const tPacket* p, uint8_t* out) { return sHeaderByte(p, out, 1, 0x3F); }
tErr tPacket_GetIndex(const tPacket* p, uint8_t* out) { return sHeaderByte(p, out, 2, 0x1F); }

tErr tPacket_Destroy(tPacket** p) {
  if (p == NULL || *p == NULL) return tErrParam;
  free(*p);
  *p = NULL;
  return tErrNone;
}

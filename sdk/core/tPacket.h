// One device packet: a module address, a payload length and up to 28
// payload bytes. Packets are small fixed-size heap records, created and freed
// at every hop (reader, FIFOs, callers), each with a validity mark.
//
// Serialised form, as it travels on a stream and as tPacket_GetBytes returns
// it (length + 2 bytes, 2 to 30):
//   [0] address   [1] length n (0..28)   [2..] n payload bytes
// There is no check byte and no delimiter; framing rests on the link's sync
// handshake.
//
// A packet has no lock: one thread owns it at a time, and hand-over between
// threads goes through a FIFO, which copies.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sdk/core/tErr.h"

#define tPACKETCHECK 0xBEEFu
#define tPACKET_MAX_DATA 28   // payload bytes
#define tPACKET_MAX_BYTES 30  // serialised bytes: address, length, payload

typedef struct tPacket {
  uint16_t check;    // tPACKETCHECK in a live packet
  uint8_t count;     // serialised bytes added so far, address and length included
  uint8_t address;   // module address; 0 = not yet set while assembling
  uint8_t length;    // payload bytes, 0..28
  uint8_t data[tPACKET_MAX_DATA];  // payload; 0 beyond length in a fresh or reset packet
} tPacket;

// True when p is not null and carries the live mark. Every operation below
// except tPacket_Create and tPacket_Destroy applies it first.
#define tVALIDPACKET(p) ((p) != NULL && (p)->check == tPACKETCHECK)

// A new empty packet (check set, every other byte 0), or null when memory
// runs out.
tPacket* tPacket_Create(void);

// A complete packet holding `length` bytes of `data` (count == length + 2).
// Null when data is null (also for length 0), when length > 28, or when
// memory runs out.
tPacket* tPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data);

// A complete copy of p's address, length and payload; null when p is not
// valid or memory runs out.
tPacket* tPacket_Copy(const tPacket* p);

// Clears count, address, length and the 28 data bytes. tErrParam when p is
// not valid.
tErr tPacket_Reset(tPacket* p);

// Adds one received byte of the serialised form. The caller checks
// tPacket_IsComplete after every byte and hands the packet on once complete;
// after a failure it resets the packet before feeding it again.
//   tErrNone     the byte was taken
//   tErrParam    p is not valid
//   tErrOverrun  more than 30 bytes since the last reset; every later byte
//                fails the same way until the packet is reset
//   tErrPacket   a zero address byte (address stays 0), a length byte above
//                28 (left in the packet), or a byte past the end of the
//                payload
// When the length is 0 the next byte is taken as a new length, so a caller
// that ignores completion does not get a payload byte.
tErr tPacket_AddByte(tPacket* p, uint8_t byte);

// True when p is valid and every byte of its serialised form is in.
bool tPacket_IsComplete(const tPacket* p);

// Writes the serialised form into buffer and, when outLength is not null,
// its length (length + 2).
//   tErrParam    p is not valid or buffer is null
//   tErrOverrun  bufferSize < length + 2; nothing is written
//   tErrPacket   the length is above 28 (a failed assembly); nothing is written
tErr tPacket_GetBytes(const tPacket* p, uint8_t* buffer, size_t bufferSize, size_t* outLength);

// Payload header accessors. *out receives payload byte 0 (command code),
// byte 1 & 0x3F (option code) or byte 2 & 0x1F (entity index).
//   tErrParam   out is null
//   tErrPacket  p is not valid, or its length is below 1, 2 or 3
//               respectively; *out is left alone
tErr tPacket_GetCmd(const tPacket* p, uint8_t* out);
tErr tPacket_GetOption(const tPacket* p, uint8_t* out);
tErr tPacket_GetIndex(const tPacket* p, uint8_t* out);

// Frees *p and nulls it. tErrParam when p or *p is null. The validity mark
// is not tested, so a damaged packet can still be freed.
tErr tPacket_Destroy(tPacket** p);

#ifdef __cplusplus
// Lets a unique owning pointer free a packet:
//   std::unique_ptr<tPacket, tPacketDeleter> owned(tPacket_Create());
struct tPacketDeleter {
  void operator()(tPacket* p) const { tPacket_Destroy(&p); }
};
#endif

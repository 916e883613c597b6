// The packet debug log: an in-memory ring of records of the packets a link
// sends and receives, plus text records of the caller's own. A full ring
// drops its oldest records; only a record that could never fit is refused.
//
// Record layout in the ring (byte by byte, wrapping at the end):
//   [0] kind: 1 sent to the module, 2 received from it, 3 caller's text
//   [1] length n   [2..] n bytes (a packet's serialised form, or the text)
//
// A log has no lock of its own: a link guards its log with its log mutex.
#pragma once

#include <stdint.h>

#include "sdk/core/tErr.h"

enum {
  tPACKETLOG_SENT = 1,
  tPACKETLOG_RECEIVED = 2,
  tPACKETLOG_TEXT = 3,
};

typedef struct tPacketLog {
  bool enabled;   // set by tLink_PacketDebug_Enable, cleared by ..._Disable
  uint8_t* data;  // the ring
  uint32_t size;  // ring size in bytes
  uint32_t tail;  // index of the oldest record
  uint32_t head;  // index where the next record goes; empty when head == tail
} tPacketLog;

// A log with an empty ring of size bytes; null when memory runs out or size
// is 0.
tPacketLog* tPacketLog_Create(uint32_t size);

// Appends a record, dropping the oldest as needed. tErrOverrun when
// length + 2 is not smaller than the ring (it could never fit); tErrParam
// for a null log, or null bytes with a non-zero length.
tErr tPacketLog_Put(tPacketLog* log, uint8_t kind, uint8_t length, const uint8_t* bytes);

// Takes the oldest record. On entry *length is the buffer's capacity.
//   tErrNotFound  empty ring
//   tErrOverrun   the record is longer than the capacity: *kind and *length
//                 tell it, and it stays in the ring
//   tErrNone      copied, removed; *kind and *length set
//   tErrParam     a null argument
tErr tPacketLog_Get(tPacketLog* log, uint8_t* kind, uint8_t* length, uint8_t* buffer);

// Frees the ring and the log and nulls *log. A null log is accepted.
tErr tPacketLog_Destroy(tPacketLog** log);

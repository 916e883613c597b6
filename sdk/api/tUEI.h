// The device payload vocabulary: command codes, the UEI layout (command,
// option, index, value) with its flag bits, the `uei` record that carries one
// request or reply, and small helpers over payload bytes. Every multi-byte
// value inside a payload is big-endian.
//
// UEI layout (payload offsets):
//   [0] command   [1] option: code in bits 0-5, direction flags in 6-7
//   [2] index: entity index in bits 0-4, flags in 5-7   [3..] value
// A request may carry a subindex byte at [3], the value then follows it.
//
// Byte arrays travel as trains of UEI packets: header, up to 24 data bytes,
// and a trailing sequence byte (bit 7: more packets follow; bits 0-6: packet
// number from 0, wrapping after 127).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sdk/core/tPacket.h"

// Command codes (payload byte 0).
enum {
  cmdHB = 0,              // link heartbeat, 2-byte payload (raw)
  cmdSYSTEM = 3,          // system entity (UEI)
  cmdSLOT = 4,            // store slots (raw)
  cmdI2C = 8,             // I2C bus entity (raw)
  cmdDEBUG = 23,          // echo test (raw)
  cmdMODULEINFO = 73,     // build number and capability queries (raw)
  cmdENTITYSTORE = 92,    // save, load or reset an entity's settings (UEI)
  cmdSTREAM = 93,         // streaming of entity values on or off (UEI)
  cmdFACTORY = 94,        // factory data area (raw)
  cmdUPGRADE = 95,        // firmware loader conversation (raw, plus UEI option 10)
};

// Addresses reserved for link services; never a module's address.
enum {
  cmdMAGIC = 173,       // 0xAD: sync handshake and module-address query, empty payload
  cmdFORCEROUTE = 175,  // 0xAF: route request, one payload byte (1 on, 0 off)
};

// Sub-codes of the raw commands (payload byte 1).
enum {
  val_UPGRADE_INIT = 0,
  val_UPGRADE_DATA = 1,
  val_UPGRADE_LOAD = 2,
  val_UPGRADE_PREPARE = 3,
  val_UPGRADE_SUM = 4,
  val_UPGRADE_WRITE = 5,
  val_UPGRADE_REBOOT = 6,
  val_UPGRADE_STATUS = 7,     // the module's status reply
  val_UPGRADE_DATA_UEI = 10,  // a UEI option, sent as a UEI bytes set
};
enum {
  val_SLOT_CAPACITY = 1,
  val_SLOT_SIZE = 2,
  val_SLOT_OPEN_READ = 3,
  val_SLOT_OPEN_WRITE = 4,
  val_SLOT_READ = 6,
  val_SLOT_WRITE = 7,
  val_SLOT_CLOSE = 8,
};
enum {
  val_INFO_HASUEI = 1,
  val_INFO_CLASSQUANTITY = 4,
  val_INFO_SUBCLASSQUANTITY = 5,
  val_INFO_ENTITYGROUP = 6,
  val_INFO_BUILD = 255,
};
// Options of cmdENTITYSTORE, at index 0.
enum {
  val_STORE_SAVE = 0,
  val_STORE_RESET = 1,
  val_STORE_LOAD = 2,
};

// Option byte flags (bits 7 and 6).
#define UEI_OPT_GET 0x40u  // host asks for the value
#define UEI_OPT_SET 0x80u  // host sets the option, or calls it when no value follows
#define UEI_OPT_ACK 0xC0u  // module acknowledges a set or call
#define UEI_OPT_MASK 0x3Fu
// Index byte flags (bits 5 to 7).
#define UEI_IDX_REQUEST 0x20u  // set in every request the host sends
#define UEI_IDX_STREAM 0x40u   // a stream sample the module sent on its own
#define UEI_IDX_ERROR 0x80u    // error reply: payload byte 3 is a tErr code
#define UEI_IDX_MASK 0x1Fu

// Most data bytes the host puts in one packet of a byte-array train.
#define UEI_BYTES_PER_PACKET 24u
#define UEI_BYTES_MORE 0x80u  // sequence byte: more packets follow

typedef enum ueiType : uint32_t {
  ueiVoid = 0,
  ueiByte = 1,
  ueiShort = 2,
  ueiInt = 4,
  ueiBytes = 5,
} ueiType;

// One UEI request or reply. A plain value type: it owns no memory; bytes and
// received point into the caller's buffers.
typedef struct uei {
  uint8_t address;  // module address
  uint8_t command;  // command code
  uint8_t option;   // option byte, flags included
  uint8_t index;    // index byte, flags included; on an error reply the received byte
  union {
    uint8_t byteValue;  // on an error reply: the error code
    uint16_t shortValue;
    uint32_t intValue;
    uint8_t* bytes;     // the byte array being sent or filled
  } value;
  uint8_t sequence;   // byte-array receive: sequence number expected next
  bool more;          // byte-array receive: continue bit of the last packet taken
  size_t length;      // byte array: its length when sending, the capacity when receiving
  size_t* received;   // byte-array receive: running count of bytes stored
  ueiType type;       // value type of the request or of the decoded reply
} uei;

// Big-endian 16- and 32-bit values in payload bytes.
uint16_t tUEI_RetrieveShort(const uint8_t* p);
void tUEI_StoreShort(uint8_t* p, uint16_t v);
uint32_t tUEI_RetrieveInt(const uint8_t* p);
void tUEI_StoreInt(uint8_t* p, uint32_t v);
// Converts count big-endian words in place to host order.
void tUEI_ModifyIntBuffer(uint32_t* words, size_t count);

// Byte-array trains. Each reads the last payload byte whatever the command,
// so a caller applies them only to packets it knows to be train packets. A
// null packet (or an empty payload) yields 0 / false.
uint8_t tUEI_getBytesSequence(const tPacket* p);   // packet number, bits 0-6
bool tUEI_getBytesContinue(const tPacket* p);      // bit 7: more follow
bool tUEI_getBytesFullPacket(const tPacket* p);    // payload length 27 or 28

// True when payload byte 0 is one of the non-UEI commands: 0, 1, 2, 4, 8, 9,
// 23, 24, 73, 94, 95, 173 and 175. A null packet yields false for both.
bool tUEI_isNotUEIPayload(const tPacket* p);
bool tUEI_isUEIPayload(const tPacket* p);

// True for a stream sample: payload longer than 4 bytes, a UEI command, an
// option byte below 64 and index bit 6 set. A null packet yields false.
bool tUEI_isStreamPacket(const tPacket* p);

// Consistent Overhead Byte Stuffing: an encoding without 0x00 bytes, so that
// a 0x00 can delimit frames on a serial line. Every block is a code byte c
// followed by c - 1 data bytes; a code below 0xFF stands for an implied
// 0x00 after its block, except at the very end.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Room the encoding of n bytes needs at most.
#define COBS_ENCODED_MAX(n) ((n) + (n) / 254 + 1)

// Encodes length bytes of source into destination, which has room for
// COBS_ENCODED_MAX(length) bytes and does not overlap source. Returns the
// encoded length (length + 1 when the input has no run of 254 or more
// non-zero bytes); 0 for a null destination, or null source with a length.
size_t cobs_encode(const uint8_t* source, size_t length, uint8_t* destination);

// Encodes in place; the buffer has room for length + 1 bytes. Returns the
// encoded length, length + 1. An input with a run of 254 or more non-zero
// bytes would need more room than that and is refused with 0, the buffer
// untouched (frames of this system never hold such runs).
size_t cobs_encode_inplace(uint8_t* buffer, size_t length);

// Decodes length encoded bytes into destination (room for length bytes; it
// may be source itself). Returns the decoded length, or 0 when a code byte is
// 0x00 or points past the end of the input.
size_t cobs_decode(const uint8_t* source, size_t length, uint8_t* destination);

// Decodes in place; same results as cobs_decode.
size_t cobs_decode_inplace(uint8_t* buffer, size_t length);

// CRC-8/MAXIM-DOW, the check byte of every COBS frame on a serial link:
// polynomial 0x31 reflected (table-driven with 0x8C), initial value 0x00,
// input and output reflected, no final XOR. "123456789" gives 0xA1.
#pragma once

#include <stddef.h>
#include <stdint.h>

extern const uint8_t _crc8LUT[256];

// The table entry for crc XOR byte: one step of the CRC.
uint8_t crc8_update(uint8_t crc, uint8_t byte);

// The CRC of length bytes, from 0. No bytes (or null data) give 0x00.
uint8_t crc8_create(const uint8_t* data, size_t length);

// Whether the CRC of the bytes equals expected.
bool crc8_check(const uint8_t* data, size_t length, uint8_t expected);

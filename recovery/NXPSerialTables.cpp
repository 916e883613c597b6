// The ISP vocabulary of NXPSerialClass: return-code names, the sector table,
// copy lengths, checksums and the uuencoding of data lines.
#include <stdlib.h>
#include <string.h>

#include "app/Log.h"
#include "recovery/NXPSerialClass.h"

const char* const NXPSerialClass::ERROR_TEXT[MAX_ERROR + 1] = {
    "CMD_SUCCESS",
    "INVALID_COMMAND",
    "SRC_ADDR_ERROR",
    "DST_ADDR_ERROR",
    "SRC_ADDR_NOT_MAPPED",
    "DST_ADDR_NOT_MAPPED",
    "COUNT_ERROR",
    "INVALID_SECTOR",
    "SECTOR_NOT_BLANK",
    "SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION",
    "COMPARE_ERROR",
    "BUSY",
    "PARAM_ERROR",
    "ADDR_ERROR",
    "ADDR_NOT_MAPPED",
    "CMD_LOCKED",
    "INVALID_CODE",
    "INVALID_BAUD_RATE",
    "INVALID_STOP_BIT",
    "CODE_READ_PROTECTION_ENABLED",
    "Unknown error",
};

const NXPSerialClass::SectorRow NXPSerialClass::NXP_LPC17XX_sectors[31] = {
    {0x00000, 0x1000, 0},   {0x01000, 0x1000, 1},   {0x02000, 0x1000, 2},   {0x03000, 0x1000, 3},
    {0x04000, 0x1000, 4},   {0x05000, 0x1000, 5},   {0x06000, 0x1000, 6},   {0x07000, 0x1000, 7},
    {0x08000, 0x1000, 8},   {0x09000, 0x1000, 9},   {0x0A000, 0x1000, 10},  {0x0B000, 0x1000, 11},
    {0x0C000, 0x1000, 12},  {0x0D000, 0x1000, 13},  {0x0E000, 0x1000, 14},  {0x0F000, 0x1000, 15},
    {0x10000, 0x8000, 16},  {0x18000, 0x8000, 17},  {0x20000, 0x8000, 18},  {0x28000, 0x8000, 19},
    {0x30000, 0x8000, 20},  {0x38000, 0x8000, 21},  {0x40000, 0x8000, 22},  {0x48000, 0x8000, 23},
    {0x50000, 0x8000, 24},  {0x58000, 0x8000, 25},  {0x60000, 0x8000, 26},  {0x68000, 0x8000, 27},
    {0x70000, 0x8000, 28},  {0x78000, 0x8000, 29},  {0xFFFFFFFF, 0, 30},
};

const char* NXPSerialClass::GetErrorText(const char* line) {
  if (line == nullptr) return ERROR_TEXT[MAX_ERROR];
  long code = strtol(line, nullptr, 0);
  if (code < 0 || code > MAX_ERROR) return ERROR_TEXT[MAX_ERROR];
  return ERROR_TEXT[code];
}

unsigned NXPSerialClass::SectorFromAddress(unsigned address) {
  const SectorRow* row = NXP_LPC17XX_sectors;
  for (; row->size != 0; row++) {
    if (address >= row->start && address - row->start < row->size) return row->sector;
  }
  return row->sector;
}

unsigned NXPSerialClass::CopyLength(unsigned n) {
  static const unsigned lengths[] = {256, 512, 1024, 4096};
  for (unsigned length : lengths) {
    if (n <= length) return length;
  }
  Log::log(DEBUG_NXPSerial, "Copy length is too large. %d > 4096.\n", n);
  return n;
}

unsigned NXPSerialClass::sum(const uint8_t* data, unsigned n) {
  unsigned total = 0;
  for (unsigned i = 0; i < n; i++) total += data[i];
  return total;
}

namespace {

// A six-bit value as a character: v + 32, with 0 as the grave accent.
char _uuChar(unsigned v) { return v == 0 ? '`' : static_cast<char>(v + 32); }

unsigned _uuValue(char c) { return static_cast<unsigned>(static_cast<unsigned char>(c) - 32) & 0x3F; }

}  // namespace

unsigned NXPSerialClass::uuencode(char* out, const uint8_t* data, unsigned n) {
  if (out == nullptr) return 0;
  if (data == nullptr) n = 0;
  if (n > MAX_BYTES_PER_LINE) n = MAX_BYTES_PER_LINE;
  char* p = out;
  *p++ = _uuChar(n);
  for (unsigned i = 0; i < n; i += 3) {
    unsigned group = static_cast<unsigned>(data[i]) << 16;
    if (i + 1 < n) group |= static_cast<unsigned>(data[i + 1]) << 8;
    if (i + 2 < n) group |= data[i + 2];
    *p++ = _uuChar((group >> 18) & 0x3F);
    *p++ = _uuChar((group >> 12) & 0x3F);
    *p++ = _uuChar((group >> 6) & 0x3F);
    *p++ = _uuChar(group & 0x3F);
  }
  *p = '\0';
  return n;
}

unsigned NXPSerialClass::uudecode(uint8_t* out, unsigned room, const char* line) {
  if (out == nullptr || line == nullptr || line[0] == '\0') return 0;
  unsigned n = _uuValue(line[0]);
  if (n > room) return 0;
  // The characters of the line after the count, up to its end.
  size_t available = strcspn(line + 1, "\r\n");
  size_t needed = (static_cast<size_t>(n) * 4 + 2) / 3;
  if (available < needed) {
    Log::log(DEBUG_NXPSerial, "Error buffer overrun\n");
    return 0;
  }
  const char* chars = line + 1;
  for (unsigned i = 0; i < n; i += 3) {
    unsigned group = 0;
    for (unsigned k = 0; k < 4; k++) {
      size_t at = (i / 3) * 4 + k;
      group = (group << 6) | (at < available ? _uuValue(chars[at]) : 0);
    }
    for (unsigned k = 0; k < 3 && i + k < n; k++) out[i + k] = static_cast<uint8_t>(group >> (16 - 8 * k));
  }
  return n;
}

// BIRD firmware files: everything needed to put firmware into a module (the
// loader, the firmware program, a description of the build, where to patch
// the serial number, the recovery loader's entry address).
//
// On disk (integers big-endian):
//   0  4  signature "bird"
//   4  2  format version (0x0101); both bytes non-zero
//   6  -  a zlib stream holding the contents
// Contents:
//   0        4  number of blocks N
//   4        -  N blocks: 1 byte type (low 5 bits) and flags (high 3 bits),
//               4 bytes content length L, L bytes content
//   end - 4  4  file checksum (kept, not verified)
// Loader and firmware contents start with their 4-byte load address.
//
// BirdFile loads and scans such a file and offers queries and in-memory
// edits of its blocks; nothing is ever written back. Every diagnostic goes
// to the log under DEBUG_BirdFile.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

// A view of one block of a loaded file. `data` points into the owning
// BirdFile's contents and stays valid as long as that object (or the one it
// was moved into) lives.
struct BirdBlock {
  uint8_t type = 0;      // BirdFile::BLOCK_TYPE
  uint8_t flags = 0;     // the high 3 bits of the type byte, shifted down
  uint32_t length = 0;   // content length L, load address included
  uint32_t address = 0;  // load address of loader and firmware blocks, else 0
  uint8_t* data = nullptr;  // first content byte (the address, for types 0 and 1)
};

class BirdFile {
 public:
  enum BLOCK_TYPE : int {  // a fixed type: every block type byte is a valid value
    BLOCK_LOADER = 0,          // address + loader code
    BLOCK_FIRMWARE = 1,        // address + firmware code
    BLOCK_SERIAL_OFFSETS = 2,  // serial-number offset, descriptor offset (target addresses)
    BLOCK_DESCRIPTION = 4,     // 4 x 16 characters: build, version, serial (hex), model
    BLOCK_ENTRY_ADDRESS = 5,   // start address of the recovery loader
  };

  static constexpr uint8_t BIRD_FILE_SIGNATURE[4] = {'b', 'i', 'r', 'd'};
  static constexpr uint16_t BIRD_FILE_VERSION = 0x0101;
  static constexpr uint8_t BIRD_FILE_TYPE_MASK = 0x1F;
  static constexpr uint8_t BIRD_FILE_FLAG_MASK = 0xE0;
  // Largest decompressed contents a file may have. Images padded with erased
  // flash compress far better than 8:1, so the limit is on the result, which
  // also keeps a tiny hostile file from claiming gigabytes.
  static constexpr uint32_t MAX_CONTENTS_SIZE = 64u * 1024 * 1024;
  // Minimum content lengths of the typed blocks; shorter blocks are skipped.
  static constexpr uint32_t DESCRIPTION_SIZE = 64;
  static constexpr uint32_t SERIAL_OFFSETS_SIZE = 8;

  BirdFile();
  // Loads path; throws std::runtime_error("Failed to load bird data") when
  // that fails (the reason is in the log).
  explicit BirdFile(const char* path);
  BirdFile(BirdFile&&) noexcept = default;
  BirdFile& operator=(BirdFile&&) noexcept = default;
  BirdFile(const BirdFile&) = delete;
  BirdFile& operator=(const BirdFile&) = delete;

  // Quick test without decompressing: at least 6 bytes, the "bird"
  // signature and two non-zero version bytes.
  static bool VerifyFile(const char* path);

  // Reads, decompresses and scans the file at `path`. False (with the
  // reason in the log) when the file is missing, unreadable, 6 bytes or
  // shorter or over 1 MiB beyond MAX_CONTENTS_SIZE, does not decompress,
  // decompresses beyond MAX_CONTENTS_SIZE, or holds fewer than 8 bytes of
  // contents. Blocks too short for what their type must hold (4 bytes for
  // loader, firmware and entry-address blocks, 8 for serial offsets, 64 for
  // a description) are left out of `blocks`; a block running past the end
  // of the contents ends the scan. A scan that finds a block count
  // or size mismatch still loads (the mismatch is logged).
  bool Load();
  // The same from a whole file image in memory; `path` is left alone.
  bool LoadFromMemory(const uint8_t* bytes, size_t size);

  // Copies of the blocks of one type, in file order.
  std::vector<BirdBlock> FindBlocks(BLOCK_TYPE type);
  // Reads serialNumberOffset and descriptorOffset from the first
  // serial-offsets block; false without one.
  bool FindSerialNumberOffsets();

  // Patches serial into every firmware block that holds the serial-number
  // offset (32-bit little-endian) and writes its 8 upper-case hex digits
  // into every second byte at the descriptor offset (the low bytes of a USB
  // string descriptor's UTF-16 characters). True when the file has a
  // serial-number offset and a firmware block, or a descriptor was patched;
  // false when it has neither offset or no firmware block.
  bool ReplaceSerialNumber(uint32_t serial);
  // Rewrites the vector-table checksum word (offset 28) of firmware blocks
  // loaded at address 0 so that words 0 to 7, without word 5, sum to zero.
  // Blocks too short to hold the table are left alone. Always true.
  bool ReplaceVectorChecksum();
  // Removes the chip-bound scrambling of the firmware code in place: byte j
  // becomes in[j] ^ keystream[j % 16] ^ out[j - 1] (0 before the first),
  // the key stream being the four words' bytes, most significant first.
  // Always true.
  bool DecodeFirmwareBlocks(const uint32_t key[4]);

  // Description queries; without a description block they give false, 0
  // or an empty string.
  bool ValidateModel(const char* model);  // model is a prefix of the model field
  uint32_t GetSerialNumber();             // serial field, hexadecimal
  bool ValidateSerialNumber(uint32_t serial);
  uint32_t GetBuild();                    // build field, decimal
  std::string GetVersion();               // version field up to its first space

  // Hex dump of every block of one type to standard output (diagnostics).
  bool DumpBlocks(BLOCK_TYPE type);

  static uint32_t GetInt(const uint8_t* bytes);    // big-endian 32-bit
  static uint16_t GetShort(const uint8_t* bytes);  // big-endian 16-bit
  static const char* BlockTypeName(uint8_t type);  // "BLOCK_LOADER", ..., "UNKNOWN"

  std::string path;
  uint32_t signature = 0;  // first 4 bytes, big-endian; not checked by Load
  uint32_t version = 0;    // the 2-byte version field
  uint32_t fileChecksum = 0;
  uint32_t blockCount = 0;  // blocks actually parsed
  std::vector<BirdBlock> blocks;
  bool hasSerialOffsets = false;
  uint32_t serialNumberOffset = 0;  // 0 = none
  uint32_t descriptorOffset = 0;    // 0 = none
  std::unique_ptr<uint8_t[]> contents;
  uint32_t contentsSize = 0;

 private:
  void _reset();
  bool _decompress(const uint8_t* compressed, size_t size);
  bool _scan_blocks();
  const BirdBlock* _description();
};

// Builds BIRD firmware files from raw loader and firmware images, for the
// birdtool command, the update server stand-in and tests. The updater itself
// never writes BIRD files.
//
// Blocks are written in the order they are added. The file checksum (the
// last 4 contents bytes) is the CRC-32 (zlib's crc32, the IEEE 802.3
// polynomial) of every contents byte before it, block count included, stored
// big-endian. Nothing in the updater verifies it; birdtool show reports
// whether it matches.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

class BirdWriter {
 public:
  using Bytes = std::vector<uint8_t>;

  // Description fields: build (decimal, up to 15 characters), version (up to
  // 15, no spaces: readers stop at the first), serial number (written as
  // "%08X"), model name (up to 16). Longer texts make Add* throw
  // std::invalid_argument.
  struct Description {
    std::string build;
    std::string version;
    uint32_t serial = 0;
    std::string model;
  };

  // Flags are the 3 high bits of the type byte (0 to 7), handed unchanged
  // to the module's upgrade protocol; larger values throw.
  BirdWriter& AddLoader(uint32_t address, const Bytes& code, uint8_t flags = 0);
  BirdWriter& AddFirmware(uint32_t address, const Bytes& code, uint8_t flags = 0);
  // Target addresses of the 32-bit serial number and of the USB serial
  // string descriptor in the firmware image; 0 means none.
  BirdWriter& AddSerialOffsets(uint32_t serialNumberOffset, uint32_t descriptorOffset);
  BirdWriter& AddDescription(const Description& description);
  BirdWriter& AddEntryAddress(uint32_t address);
  // Any block with any content: for files that break the rules on purpose.
  BirdWriter& AddRaw(uint8_t type, uint8_t flags, const Bytes& content);

  // The block count written in the contents; by default the real count.
  BirdWriter& SetReportedBlockCount(uint32_t count);
  // Header fields; by default "bird" and 0x0101.
  BirdWriter& SetSignature(const char signature[4]);
  BirdWriter& SetVersion(uint16_t version);
  // zlib level 0 to 9 (default 9).
  BirdWriter& SetCompressionLevel(int level);

  // Scrambles the firmware code as chip-bound recovery images are: the
  // inverse of BirdFile::DecodeFirmwareBlocks with the same key, applied to
  // every firmware block added before or after this call.
  BirdWriter& EncodeFirmwareWith(const uint32_t key[4]);

  size_t BlockCount() const { return blocks_.size(); }

  // Decompressed contents: block count, blocks, checksum.
  Bytes Contents() const;
  // The whole file: header and compressed contents.
  Bytes Build() const;
  // Writes Build() to path; false with a reason in *error.
  bool WriteTo(const std::string& path, std::string* error) const;

  // Header + compressed `contents`: wraps contents made by hand.
  static Bytes Wrap(const Bytes& contents, int level = 9, const char signature[4] = "bird",
                    uint16_t version = 0x0101);
  // The checksum the writer stores: CRC-32 of data.
  static uint32_t Checksum(const uint8_t* data, size_t size);
  // Inverse of BirdFile::DecodeFirmwareBlocks on one block's code.
  static void EncodeCode(uint8_t* code, size_t size, const uint32_t key[4]);

 private:
  struct Block {
    uint8_t typeByte;
    Bytes content;
  };
  BirdWriter& _add(uint8_t type, uint8_t flags, Bytes content);

  std::vector<Block> blocks_;
  bool reportedCountSet_ = false;
  uint32_t reportedCount_ = 0;
  char signature_[4] = {'b', 'i', 'r', 'd'};
  uint16_t version_ = 0x0101;
  int level_ = 9;
  bool encode_ = false;
  uint32_t key_[4] = {0, 0, 0, 0};
};

#include "tools/BirdWriter.h"

#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <stdexcept>

#include "store/BirdFile.h"
#include "store/tFile.h"

namespace {

void _put_be32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

std::vector<uint8_t> _with_address(uint32_t address, const std::vector<uint8_t>& code) {
  std::vector<uint8_t> content;
  content.reserve(code.size() + 4);
  _put_be32(content, address);
  content.insert(content.end(), code.begin(), code.end());
  return content;
}

void _put_field(std::vector<uint8_t>& out, const std::string& text, size_t limit, const char* what) {
  if (text.size() > limit)
    throw std::invalid_argument(std::string("description ") + what + " longer than " +
                                std::to_string(limit) + " characters: " + text);
  std::string field = text;
  field.resize(16, ' ');
  out.insert(out.end(), field.begin(), field.end());
}

}  // namespace

BirdWriter& BirdWriter::_add(uint8_t type, uint8_t flags, Bytes content) {
  if (flags > 7) throw std::invalid_argument("block flags above 7: " + std::to_string(flags));
  if (type > BirdFile::BIRD_FILE_TYPE_MASK)
    throw std::invalid_argument("block type above 31: " + std::to_string(type));
  blocks_.push_back(Block{uint8_t(type | flags << 5), std::move(content)});
  return *this;
}

BirdWriter& BirdWriter::AddLoader(uint32_t address, const Bytes& code, uint8_t flags) {
  return _add(BirdFile::BLOCK_LOADER, flags, _with_address(address, code));
}

BirdWriter& BirdWriter::AddFirmware(uint32_t address, const Bytes& code, uint8_t flags) {
  return _add(BirdFile::BLOCK_FIRMWARE, flags, _with_address(address, code));
}

BirdWriter& BirdWriter::AddSerialOffsets(uint32_t serialNumberOffset, uint32_t descriptorOffset) {
  Bytes content;
  _put_be32(content, serialNumberOffset);
  _put_be32(content, descriptorOffset);
  return _add(BirdFile::BLOCK_SERIAL_OFFSETS, 0, content);
}

BirdWriter& BirdWriter::AddDescription(const Description& d) {
  if (d.version.find(' ') != std::string::npos)
    throw std::invalid_argument("description version may not contain spaces: " + d.version);
  char serial[9];
  snprintf(serial, sizeof serial, "%08X", d.serial);
  Bytes content;
  _put_field(content, d.build, 15, "build");
  _put_field(content, d.version, 15, "version");
  _put_field(content, serial, 16, "serial");
  _put_field(content, d.model, 16, "model");
  return _add(BirdFile::BLOCK_DESCRIPTION, 0, content);
}

BirdWriter& BirdWriter::AddEntryAddress(uint32_t address) {
  Bytes content;
  _put_be32(content, address);
  return _add(BirdFile::BLOCK_ENTRY_ADDRESS, 0, content);
}

BirdWriter& BirdWriter::AddRaw(uint8_t type, uint8_t flags, const Bytes& content) {
  return _add(type, flags, content);
}

BirdWriter& BirdWriter::SetReportedBlockCount(uint32_t count) {
  reportedCountSet_ = true;
  reportedCount_ = count;
  return *this;
}

BirdWriter& BirdWriter::SetSignature(const char signature[4]) {
  memcpy(signature_, signature, 4);
  return *this;
}

BirdWriter& BirdWriter::SetVersion(uint16_t version) {
  version_ = version;
  return *this;
}

BirdWriter& BirdWriter::SetCompressionLevel(int level) {
  if (level < 0 || level > 9) throw std::invalid_argument("compression level outside 0 to 9");
  level_ = level;
  return *this;
}

BirdWriter& BirdWriter::EncodeFirmwareWith(const uint32_t key[4]) {
  encode_ = true;
  memcpy(key_, key, sizeof key_);
  return *this;
}

void BirdWriter::EncodeCode(uint8_t* code, size_t size, const uint32_t key[4]) {
  uint8_t stream[16];
  for (int word = 0; word < 4; ++word)
    for (int byte = 0; byte < 4; ++byte) stream[4 * word + byte] = uint8_t(key[word] >> (24 - 8 * byte));
  uint8_t previousPlain = 0;
  for (size_t j = 0; j < size; ++j) {
    uint8_t plain = code[j];
    code[j] = uint8_t(plain ^ stream[j % 16] ^ previousPlain);
    previousPlain = plain;
  }
}

uint32_t BirdWriter::Checksum(const uint8_t* data, size_t size) {
  uLong crc = crc32(0L, Z_NULL, 0);
  while (size > 0) {
    uInt chunk = size > 0x40000000u ? 0x40000000u : uInt(size);
    crc = crc32(crc, data, chunk);
    data += chunk;
    size -= chunk;
  }
  return uint32_t(crc);
}

BirdWriter::Bytes BirdWriter::Contents() const {
  Bytes out;
  _put_be32(out, reportedCountSet_ ? reportedCount_ : uint32_t(blocks_.size()));
  for (const Block& block : blocks_) {
    out.push_back(block.typeByte);
    _put_be32(out, uint32_t(block.content.size()));
    size_t start = out.size();
    out.insert(out.end(), block.content.begin(), block.content.end());
    bool firmware = (block.typeByte & BirdFile::BIRD_FILE_TYPE_MASK) == BirdFile::BLOCK_FIRMWARE;
    if (encode_ && firmware && block.content.size() > 4)
      EncodeCode(out.data() + start + 4, block.content.size() - 4, key_);
  }
  _put_be32(out, Checksum(out.data(), out.size()));
  return out;
}

BirdWriter::Bytes BirdWriter::Wrap(const Bytes& contents, int level, const char signature[4],
                                   uint16_t version) {
  uLongf size = compressBound(uLong(contents.size()));
  Bytes out(6 + size);
  memcpy(out.data(), signature, 4);
  out[4] = uint8_t(version >> 8);
  out[5] = uint8_t(version);
  if (compress2(out.data() + 6, &size, contents.data(), uLong(contents.size()), level) != Z_OK)
    throw std::runtime_error("compression failed");
  out.resize(6 + size);
  return out;
}

BirdWriter::Bytes BirdWriter::Build() const { return Wrap(Contents(), level_, signature_, version_); }

bool BirdWriter::WriteTo(const std::string& path, std::string* error) const {
  Bytes file = Build();
  tErr result = tFile_Replace(path.c_str(), file.data(), file.size());
  if (result != tErrNone && error)
    *error = "cannot write " + path + ": " + tError_GetErrorDescription(result);
  return result == tErrNone;
}

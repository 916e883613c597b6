#include "store/BirdFile.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <stdexcept>

#include "app/Log.h"
#include "store/tFile.h"

namespace {

const size_t _header_size = 6;
const uint32_t _block_header_size = 5;
// A compressed file can be a little larger than its contents, never by much.
const uint64_t _max_file_size = uint64_t(BirdFile::MAX_CONTENTS_SIZE) + (1u << 20);

uint32_t _get_le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void _put_le32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(value >> (8 * i));
}

// Content offset of `bytes` bytes at target address `target` inside a
// loader or firmware block, or -1 when they do not all lie in its code.
int64_t _code_offset(const BirdBlock& block, uint32_t target, uint32_t bytes) {
  uint64_t start = block.address, end = start + (block.length - 4);
  if (target < start || uint64_t(target) + bytes > end) return -1;
  return int64_t(target - start) + 4;
}

// Text of a description field, NUL-terminated and at most `size` bytes.
std::string _field(const BirdBlock* description, size_t offset, size_t size) {
  const char* text = reinterpret_cast<const char*>(description->data + offset);
  return std::string(text, strnlen(text, size));
}

}  // namespace

BirdFile::BirdFile() = default;

BirdFile::BirdFile(const char* filePath) : path(filePath ? filePath : "") {
  if (!Load()) throw std::runtime_error("Failed to load bird data");
}

uint32_t BirdFile::GetInt(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

uint16_t BirdFile::GetShort(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

const char* BirdFile::BlockTypeName(uint8_t type) {
  switch (type) {
    case BLOCK_LOADER: return "BLOCK_LOADER";
    case BLOCK_FIRMWARE: return "BLOCK_FIRMWARE";
    case BLOCK_SERIAL_OFFSETS: return "BLOCK_SERIAL_OFFSETS";
    case BLOCK_DESCRIPTION: return "BLOCK_DESCRIPTION";
    case BLOCK_ENTRY_ADDRESS: return "BLOCK_ENTRY_ADDRESS";
    default: return "UNKNOWN";
  }
}

bool BirdFile::VerifyFile(const char* filePath) {
  tFileRef file = tFile_Open(filePath, tFileModeRead);
  if (!file) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n",
             filePath ? filePath : "");
    return false;
  }
  uint8_t header[_header_size];
  size_t got = 0, n = 0;
  while (got < sizeof header &&
         tFile_Read(file, header + got, sizeof header - got, &n) == tErrNone)
    got += n;
  tFile_Close(&file);
  return got == sizeof header && memcmp(header, BIRD_FILE_SIGNATURE, 4) == 0 && header[4] != 0 &&
         header[5] != 0;
}

void BirdFile::_reset() {
  signature = version = fileChecksum = blockCount = 0;
  blocks.clear();
  hasSerialOffsets = false;
  serialNumberOffset = descriptorOffset = 0;
  contents.reset();
  contentsSize = 0;
}

bool BirdFile::Load() {
  const char* p = path.c_str();
  Log::log(DEBUG_BirdFile, "BIRDFILE: Loading File [%s]\n", p);
  if (!tFile_Exists(p)) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: BIRD file not found [%s]\n", p);
    return false;
  }
  tFileRef file = tFile_Open(p, tFileModeRead);
  if (!file) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n", p);
    return false;
  }
  uint64_t size = 0;
  tErr err = tFile_GetSize(file, &size);
  if (err == tErrNone && size > _max_file_size) err = tErrSize;
  if (err != tErrNone) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) getting bird file size from %s\n", int(err), p);
    tFile_Close(&file);
    return false;
  }
  std::unique_ptr<uint8_t[]> raw(new uint8_t[size ? size : 1]);
  size_t got = 0, n = 0;
  while (got < size && (err = tFile_Read(file, raw.get() + got, size - got, &n)) == tErrNone)
    got += n;
  tFile_Close(&file);
  if (got < size) {
    if (err != tErrEOF)
      Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) reading %s\n", int(err), p);
    else
      Log::log(DEBUG_BirdFile, "BIRDFILE: Error reading %s read %zu bytes of %zu byte file\n", p,
               got, size_t(size));
    return false;
  }
  return LoadFromMemory(raw.get(), got);
}

bool BirdFile::LoadFromMemory(const uint8_t* bytes, size_t size) {
  _reset();
  if (!bytes || size <= _header_size) return false;
  signature = GetInt(bytes);
  version = GetShort(bytes + 4);
  if (!_decompress(bytes + _header_size, size - _header_size)) return false;
  if (contentsSize < 8) {
    Log::log(DEBUG_BirdFile,
             "BIRDFILE: Error - %u bytes of contents cannot hold a block count and checksum\n",
             contentsSize);
    return false;
  }
  _scan_blocks();
  FindSerialNumberOffsets();
  if (!FindBlocks(BLOCK_SERIAL_OFFSETS).empty()) {
    hasSerialOffsets = true;
    FindSerialNumberOffsets();
  }
  return true;
}

// Inflates into a buffer that starts at 8 times the compressed size and
// grows as needed. It may grow one byte past MAX_CONTENTS_SIZE: contents
// that reach that byte are too large.
bool BirdFile::_decompress(const uint8_t* compressed, size_t size) {
  const uint64_t limit = uint64_t(MAX_CONTENTS_SIZE) + 1;
  uint64_t capacity = uint64_t(size) * 8;
  if (capacity < 4096) capacity = 4096;
  if (capacity > limit) capacity = limit;
  std::unique_ptr<uint8_t[]> out(new uint8_t[capacity]);

  z_stream z;
  memset(&z, 0, sizeof z);
  int result = inflateInit(&z);
  z.next_in = const_cast<Bytef*>(compressed);
  z.avail_in = uInt(size > UINT32_MAX ? UINT32_MAX : size);
  while (result == Z_OK) {
    if (z.total_out == capacity) {
      if (capacity == limit) break;
      uint64_t grown = capacity * 2 > limit ? limit : capacity * 2;
      std::unique_ptr<uint8_t[]> bigger(new uint8_t[grown]);
      memcpy(bigger.get(), out.get(), z.total_out);
      out = std::move(bigger);
      capacity = grown;
    }
    z.next_out = out.get() + z.total_out;
    z.avail_out = uInt(capacity - z.total_out);
    result = inflate(&z, Z_NO_FLUSH);
    if (result == Z_BUF_ERROR && z.avail_in == 0) result = Z_DATA_ERROR;  // truncated stream
    if (result == Z_BUF_ERROR && z.avail_out == 0) result = Z_OK;       // needs more room
    if (result == Z_NEED_DICT) result = Z_DATA_ERROR;
  }
  uint64_t produced = z.total_out;
  inflateEnd(&z);
  if (produced > MAX_CONTENTS_SIZE) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Contents exceed the limit of %u bytes.\n",
             MAX_CONTENTS_SIZE);
    result = Z_BUF_ERROR;
  }
  if (result != Z_STREAM_END) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) decompressing bird file.\n", result);
    contentsSize = 0;
    return false;
  }
  contents = std::move(out);
  contentsSize = uint32_t(produced);
  return true;
}

bool BirdFile::_scan_blocks() {
  const uint8_t* base = contents.get();
  const uint32_t end = contentsSize - 4;  // the checksum's offset
  blockCount = 0;
  uint32_t reported = GetInt(base);
  Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File reports %d blocks\n", int(reported));
  Log::log(DEBUG_BirdFile, "BIRDFILE: Bird file objects:\n");
  Log::log(DEBUG_BirdFile, "BIRDFILE: \t\tType Flags Length\n");

  uint32_t pos = 4;
  while (end - pos >= _block_header_size) {
    BirdBlock block;
    block.type = base[pos] & BIRD_FILE_TYPE_MASK;
    block.flags = uint8_t((base[pos] & BIRD_FILE_FLAG_MASK) >> 5);
    block.length = GetInt(base + pos + 1);
    uint32_t start = pos + _block_header_size;
    if (block.length > end - start) {
      Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t %02X   %02X   %u runs past the end\n", block.type,
               block.flags, block.length);
      break;
    }
    block.data = contents.get() + start;
    pos = start + block.length;
    Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t %02X   %02X   %d\n", block.type, block.flags,
             int(block.length));

    uint32_t needed = 0;
    if (block.type == BLOCK_LOADER || block.type == BLOCK_FIRMWARE || block.type == BLOCK_ENTRY_ADDRESS)
      needed = 4;
    else if (block.type == BLOCK_SERIAL_OFFSETS)
      needed = SERIAL_OFFSETS_SIZE;
    else if (block.type == BLOCK_DESCRIPTION)
      needed = DESCRIPTION_SIZE;
    if (block.length < needed) {
      Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t skipping %s block shorter than %u bytes\n",
               BlockTypeName(block.type), needed);
      continue;
    }
    if (block.type == BLOCK_LOADER || block.type == BLOCK_FIRMWARE) block.address = GetInt(block.data);
    if (block.type == BLOCK_DESCRIPTION) {
      for (int field = 0; field < 4; ++field)
        Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t \t[%16.16s]\n",
                 _field(&block, size_t(field) * 16, 16).c_str());
    }
    blocks.push_back(block);
    ++blockCount;
  }

  fileChecksum = GetInt(base + end);
  Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File checksum %08X\n", fileChecksum);
  bool consistent = true;
  if (pos != end) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Block parsing mismatch in data size. (%d bytes remaining)\n",
             int(end - pos));
    consistent = false;
  }
  if (blockCount != reported) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Block parsing mismatch in number of blocks. (%d != %d)\n",
             int(blockCount), int(reported));
    consistent = false;
  }
  return consistent;
}

std::vector<BirdBlock> BirdFile::FindBlocks(BLOCK_TYPE type) {
  std::vector<BirdBlock> found;
  for (const BirdBlock& block : blocks)
    if (block.type == type) found.push_back(block);
  return found;
}

bool BirdFile::FindSerialNumberOffsets() {
  if (blockCount == 0) return false;
  for (const BirdBlock& block : blocks) {
    if (block.type != BLOCK_SERIAL_OFFSETS) continue;
    serialNumberOffset = GetInt(block.data);
    descriptorOffset = GetInt(block.data + 4);
    Log::log(DEBUG_BirdFile, "BIRDFILE: Offsets: Serial number: %d, Descriptor: %d\n",
             int(serialNumberOffset), int(descriptorOffset));
    return true;
  }
  return false;
}

bool BirdFile::ReplaceSerialNumber(uint32_t serial) {
  char digits[9];
  snprintf(digits, sizeof digits, "%08X", serial);
  bool result = false;
  for (BirdBlock& block : blocks) {
    if (block.type != BLOCK_FIRMWARE) continue;
    if (serialNumberOffset != 0) {
      result = true;
      int64_t at = _code_offset(block, serialNumberOffset, 4);
      if (at >= 0) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: updating serial number from %08X ==> %08X\n",
                 _get_le32(block.data + at), serial);
        _put_le32(block.data + at, serial);
      }
    }
    if (descriptorOffset != 0) {
      int64_t at = _code_offset(block, descriptorOffset, 16);
      if (at >= 0) {
        for (int i = 0; i < 8; ++i) block.data[at + 2 * i] = uint8_t(digits[i]);
        result = true;
      }
    }
  }
  return result;
}

bool BirdFile::ReplaceVectorChecksum() {
  for (BirdBlock& block : blocks) {
    if (block.type != BLOCK_FIRMWARE || block.address != 0 || block.length < 4 + 32) continue;
    uint8_t* code = block.data + 4;
    uint32_t sum = 0;
    for (int word = 0; word < 7; ++word)
      if (word != 5) sum += _get_le32(code + 4 * word);
    uint32_t updated = 0u - sum;
    Log::log(DEBUG_BirdFile, "BIRDFILE: updating vector checksum from %08X ==> %08X\n",
             _get_le32(code + 28), updated);
    _put_le32(code + 28, updated);
  }
  return true;
}

bool BirdFile::DecodeFirmwareBlocks(const uint32_t key[4]) {
  uint8_t stream[16];
  for (int word = 0; word < 4; ++word)
    for (int byte = 0; byte < 4; ++byte) stream[4 * word + byte] = uint8_t(key[word] >> (24 - 8 * byte));
  for (BirdBlock& block : blocks) {
    if (block.type != BLOCK_FIRMWARE) continue;
    uint8_t* code = block.data + 4;
    uint8_t previous = 0;
    for (uint32_t j = 0; j < block.length - 4; ++j) {
      code[j] = uint8_t(code[j] ^ stream[j % 16] ^ previous);
      previous = code[j];
    }
  }
  return true;
}

const BirdBlock* BirdFile::_description() {
  for (const BirdBlock& block : blocks)
    if (block.type == BLOCK_DESCRIPTION) return &block;
  return nullptr;
}

bool BirdFile::ValidateModel(const char* model) {
  const BirdBlock* description = _description();
  if (!description || !model) return false;
  std::string stored = _field(description, 48, 16);
  while (!stored.empty() && stored.back() == ' ') stored.pop_back();
  if (stored.compare(0, strlen(model), model) != 0) return false;
  Log::log(DEBUG_BirdFile, "Model matches model number ([%s] == [%s])\n", stored.c_str(), model);
  return true;
}

uint32_t BirdFile::GetSerialNumber() {
  const BirdBlock* description = _description();
  if (!description) return 0;
  return uint32_t(strtoul(_field(description, 32, 8).c_str(), nullptr, 16));
}

bool BirdFile::ValidateSerialNumber(uint32_t serial) { return serial == GetSerialNumber(); }

uint32_t BirdFile::GetBuild() {
  const BirdBlock* description = _description();
  if (!description) return 0;
  return uint32_t(strtoul(_field(description, 0, 15).c_str(), nullptr, 10));
}

std::string BirdFile::GetVersion() {
  const BirdBlock* description = _description();
  if (!description) return std::string();
  std::string text = _field(description, 16, 15);
  return text.substr(0, text.find(' '));
}

bool BirdFile::DumpBlocks(BLOCK_TYPE type) {
  printf("BIRDFILE: BLOCK DUMP [%s]\n", BlockTypeName(uint8_t(type)));
  for (const BirdBlock& block : blocks) {
    if (block.type != type) continue;
    std::string row;
    for (uint32_t i = 0; i < block.length; ++i) {
      if (i % 50 == 0) {
        printf(" %s\r\n%06d: ", row.c_str(), int(i));
        row.clear();
      }
      uint8_t byte = block.data[i];
      printf("%02X ", byte);
      row += isprint(byte) ? char(byte) : ' ';
    }
    printf(" %s\n", row.c_str());
  }
  printf("\n");
  return true;
}

#include "sim/update_server/BirdDescription.h"

#include <stdint.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace qnsim {
namespace {

uint32_t sBig32(const unsigned char* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

constexpr unsigned sDescriptionType = 4;
constexpr size_t sHeaderSize = 6;                // "bird" and the format version
constexpr size_t sMaxContents = size_t(64) << 20;  // no firmware comes near it

// Inflates the zlib stream after the header, up to sMaxContents bytes.
bool sInflate(const std::vector<unsigned char>& file, std::vector<unsigned char>& out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(file.data() + sHeaderSize);
  z.avail_in = uInt(file.size() - sHeaderSize);
  int rc = Z_OK;
  while (rc == Z_OK) {
    if (out.size() >= sMaxContents) break;
    size_t have = out.size();
    out.resize(have + 65536);
    z.next_out = out.data() + have;
    z.avail_out = 65536;
    rc = inflate(&z, Z_NO_FLUSH);
    out.resize(have + (65536 - z.avail_out));
  }
  inflateEnd(&z);
  return rc == Z_STREAM_END;
}

}  // namespace

std::string BirdVersion(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (file.size() <= sHeaderSize) return "";
  std::vector<unsigned char> contents;
  if (!sInflate(file, contents)) return "";
  const size_t size = contents.size();
  size_t pos = 4;  // past the block count
  while (size >= 5 && pos <= size - 5) {
    unsigned type = contents[pos] & 0x1F;
    uint32_t length = sBig32(&contents[pos + 1]);
    pos += 5;
    if (length > size - pos) break;
    if (type == sDescriptionType && length >= 31) {
      std::string version(reinterpret_cast<const char*>(&contents[pos + 16]), 15);
      size_t cut = version.find_first_of(std::string(" \0", 2));
      return version.substr(0, cut);
    }
    pos += length;
  }
  return "";
}

}  // namespace qnsim

// Feeds arbitrary bytes to the BIRD loader, twice: once as a whole file, and
// once as the decompressed contents of a file (compressed here), so that the
// block scan sees inputs the fuzzer could hardly reach through zlib. Every
// query and in-memory edit then runs over whatever was accepted; the
// sanitizers catch any access outside the buffers.
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <zlib.h>

#include <vector>

#include "store/BirdFile.h"

namespace {

void sExercise(const uint8_t* data, size_t size) {
  BirdFile file;
  if (!file.LoadFromMemory(data, size)) return;
  for (int type = 0; type < 32; ++type) file.FindBlocks(BirdFile::BLOCK_TYPE(type));
  file.GetBuild();
  file.GetVersion();
  file.GetSerialNumber();
  file.ValidateModel("HubQuad2");
  file.FindSerialNumberOffsets();
  file.ReplaceSerialNumber(0x40F5849A);
  file.ReplaceVectorChecksum();
  const uint32_t key[4] = {0x01234567, 0x89ABCDEF, 0xFEDCBA98, 0x76543210};
  file.DecodeFirmwareBlocks(key);
  BirdFile moved(std::move(file));
  moved.GetVersion();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sExercise(data, size);

  uLongf packed = compressBound(uLong(size));
  std::vector<uint8_t> file(6 + packed);
  memcpy(file.data(), "bird\x01\x01", 6);
  if (compress2(file.data() + 6, &packed, data, uLong(size), 1) == Z_OK)
    sExercise(file.data(), 6 + packed);
  return 0;
}

// The COBS decoder, alone and as the receive side of a COBS stream fed byte
// by byte from a serial line.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "sdk/core/tCobs.h"
#include "sdk/core/tCobsStream.h"
#include "sdk/core/tCrc8.h"

namespace {

struct sLine {
  const uint8_t* data;
  size_t size;
  size_t at;
};

tErr sLineGet(uint8_t* byte, void* ref) {
  sLine* line = static_cast<sLine*>(ref);
  if (line->at >= line->size) return tErrNotReady;
  *byte = line->data[line->at++];
  return tErrNone;
}

void sCheck(bool ok) {
  if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The decoder: never longer than its input, in place the same as out of
  // place, and whatever it accepts survives another round trip.
  std::vector<uint8_t> out(size > 0 ? size : 1);
  size_t n = cobs_decode(data, size, out.data());
  sCheck(n <= size);
  std::vector<uint8_t> copy(data, data + size);
  sCheck(cobs_decode_inplace(copy.data(), size) == n);
  sCheck(n == 0 || memcmp(copy.data(), out.data(), n) == 0);
  if (n > 0) {
    std::vector<uint8_t> again(COBS_ENCODED_MAX(n));
    size_t e = cobs_encode(out.data(), n, again.data());
    for (size_t i = 0; i < e; i++) sCheck(again[i] != 0);
    std::vector<uint8_t> back(e);
    sCheck(cobs_decode(again.data(), e, back.data()) == n);
    sCheck(memcmp(back.data(), out.data(), n) == 0);
  }

  // The stream: every packet it delivers is a whole, length-consistent
  // packet whose frame carried the right CRC.
  sLine line = {data, size, 0};
  tStream* stream = nullptr;
  sCheck(tStream_CreateCobsEncoding(sLineGet, nullptr, nullptr, nullptr, &line, &stream) == tErrNone);
  std::vector<uint8_t> packet;
  int idle = 0;
  while (idle < 2) {
    uint8_t b;
    tErr err = tStream_Read(stream, &b, 1);
    if (err == tErrNone) {
      packet.push_back(b);
      idle = 0;
      if (packet.size() >= 2 && packet.size() == static_cast<size_t>(packet[1]) + 2) packet.clear();
      sCheck(packet.size() <= 30);
    } else {
      sCheck(err == tErrNotReady || err == tErrPacket);
      idle = (err == tErrNotReady && line.at >= line.size) ? idle + 1 : 0;
    }
  }
  sCheck(packet.empty());
  tStream_Destroy(&stream);
  return 0;
}

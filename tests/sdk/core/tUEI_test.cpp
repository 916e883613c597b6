#include "sdk/api/tUEI.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using Owned = std::unique_ptr<tPacket, tPacketDeleter>;

Owned Payload(const std::vector<uint8_t>& bytes) {
  return Owned(tPacket_CreateWithData(2, static_cast<uint8_t>(bytes.size()), bytes.data()));
}

TEST(UEI, BigEndianValues) {
  uint8_t b[4] = {0, 0, 0, 0};
  tUEI_StoreShort(b, 0x1234);
  EXPECT_EQ(b[0], 0x12);
  EXPECT_EQ(b[1], 0x34);
  EXPECT_EQ(tUEI_RetrieveShort(b), 0x1234);
  const uint8_t i[4] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(tUEI_RetrieveInt(i), 0x12345678u);
  tUEI_StoreInt(b, 0xCAFEF00D);
  EXPECT_EQ(b[0], 0xCA);
  EXPECT_EQ(b[3], 0x0D);

  uint32_t words[2];
  const uint8_t raw[8] = {0, 0, 0, 1, 0xAA, 0xBB, 0xCC, 0xDD};
  memcpy(words, raw, sizeof raw);
  tUEI_ModifyIntBuffer(words, 2);
  EXPECT_EQ(words[0], 1u);
  EXPECT_EQ(words[1], 0xAABBCCDDu);
}

TEST(UEI, TrainSequenceBytes) {
  std::vector<uint8_t> full(28, 0x11);
  full.back() = 0x85;
  Owned p = Payload(full);
  EXPECT_EQ(tUEI_getBytesSequence(p.get()), 5);
  EXPECT_TRUE(tUEI_getBytesContinue(p.get()));
  EXPECT_TRUE(tUEI_getBytesFullPacket(p.get()));

  Owned last = Payload({3, 32, 0, 'a', 0x01});
  EXPECT_EQ(tUEI_getBytesSequence(last.get()), 1);
  EXPECT_FALSE(tUEI_getBytesContinue(last.get()));
  EXPECT_FALSE(tUEI_getBytesFullPacket(last.get()));
  EXPECT_TRUE(tUEI_getBytesFullPacket(Payload(std::vector<uint8_t>(27, 1)).get()));
  EXPECT_FALSE(tUEI_getBytesFullPacket(Payload(std::vector<uint8_t>(26, 1)).get()));

  EXPECT_EQ(tUEI_getBytesSequence(nullptr), 0);
  EXPECT_FALSE(tUEI_getBytesContinue(nullptr));
  EXPECT_FALSE(tUEI_getBytesFullPacket(nullptr));
}

TEST(UEI, NonUEICommandsAreExactlyTheRawOnes) {
  const std::vector<uint8_t> raw = {0, 1, 2, 4, 8, 9, 23, 24, 73, 94, 95, 173, 175};
  for (int c = 0; c < 256; c++) {
    Owned p = Payload({static_cast<uint8_t>(c), 0, 0});
    const bool expected = std::find(raw.begin(), raw.end(), c) != raw.end();
    EXPECT_EQ(tUEI_isNotUEIPayload(p.get()), expected) << c;
    EXPECT_EQ(tUEI_isUEIPayload(p.get()), !expected) << c;
  }
  EXPECT_FALSE(tUEI_isNotUEIPayload(nullptr));
  EXPECT_FALSE(tUEI_isUEIPayload(nullptr));
}

struct StreamCase {
  const char* name;
  std::vector<uint8_t> payload;
  bool stream;
};

TEST(UEI, StreamPackets) {
  const StreamCase cases[] = {
      {"sample", {3, 0x05, 0x40, 1, 2}, true},
      {"four bytes", {3, 0x05, 0x40, 1}, false},
      {"get flag in option", {3, 0x41, 0x40, 1, 2}, false},
      {"no stream bit", {3, 0x05, 0x20, 1, 2}, false},
      {"raw command", {8, 0x05, 0x40, 1, 2}, false},
  };
  for (const StreamCase& c : cases) {
    Owned p = Payload(c.payload);
    EXPECT_EQ(tUEI_isStreamPacket(p.get()), c.stream) << c.name;
  }
  EXPECT_FALSE(tUEI_isStreamPacket(nullptr));
}

}  // namespace

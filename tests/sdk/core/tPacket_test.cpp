#include "sdk/core/tPacket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

using Owned = std::unique_ptr<tPacket, tPacketDeleter>;

struct AssemblyCase {
  const char* name;
  std::vector<uint8_t> bytes;
  std::vector<tErr> results;  // one per byte
  bool complete;              // after the last byte
  uint8_t address;
  uint8_t length;
  std::vector<uint8_t> payload;
};

void PrintTo(const AssemblyCase& c, std::ostream* os) { *os << c.name; }

class PacketAssembly : public ::testing::TestWithParam<AssemblyCase> {};

TEST_P(PacketAssembly, FeedsBytesAndEndsInTheExpectedState) {
  const AssemblyCase& c = GetParam();
  Owned p(tPacket_Create());
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(c.bytes.size(), c.results.size());
  for (size_t i = 0; i < c.bytes.size(); i++) {
    EXPECT_EQ(tPacket_AddByte(p.get(), c.bytes[i]), c.results[i]) << "byte " << i;
  }
  EXPECT_EQ(tPacket_IsComplete(p.get()), c.complete);
  EXPECT_EQ(p->address, c.address);
  EXPECT_EQ(p->length, c.length);
  for (size_t i = 0; i < c.payload.size(); i++) EXPECT_EQ(p->data[i], c.payload[i]) << "payload " << i;
}

std::vector<AssemblyCase> AssemblyCases() {
  std::vector<AssemblyCase> cases = {
      {"EmptyPayload", {0x06, 0x00}, {tErrNone, tErrNone}, true, 6, 0, {}},
      {"ThreeBytePayload",
       {0x06, 0x03, 0x11, 0x22, 0x33},
       {tErrNone, tErrNone, tErrNone, tErrNone, tErrNone},
       true, 6, 3, {0x11, 0x22, 0x33}},
      {"PartialPayload", {0x06, 0x03, 0x11}, {tErrNone, tErrNone, tErrNone}, false, 6, 3, {0x11}},
      {"ZeroAddress", {0x00}, {tErrPacket}, false, 0, 0, {}},
      {"LengthAbove28", {0x06, 0x1D}, {tErrNone, tErrPacket}, false, 6, 29, {}},
      {"ByteAfterComplete", {0x06, 0x01, 0x55, 0x66}, {tErrNone, tErrNone, tErrNone, tErrPacket}, false, 6, 1,
       {0x55}},
      // A complete empty packet takes the next byte as a new length.
      {"ZeroLengthThenLength", {0x06, 0x00, 0x02}, {tErrNone, tErrNone, tErrNone}, false, 6, 2, {}},
  };
  AssemblyCase full{"Full28", {0x08, 28}, {tErrNone, tErrNone}, true, 8, 28, {}};
  for (uint8_t i = 0; i < 28; i++) {
    full.bytes.push_back(static_cast<uint8_t>(0xA0 + i));
    full.results.push_back(tErrNone);
    full.payload.push_back(static_cast<uint8_t>(0xA0 + i));
  }
  cases.push_back(full);
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Table, PacketAssembly, ::testing::ValuesIn(AssemblyCases()),
                         [](const ::testing::TestParamInfo<AssemblyCase>& info) { return info.param.name; });

TEST(Packet, OverrunStaysUntilResetHoweverManyBytesFollow) {
  Owned p(tPacket_Create());
  // Address, a length of 0 taken as a new length again and again: every
  // byte is accepted until the count passes 30.
  ASSERT_EQ(tPacket_AddByte(p.get(), 0x06), tErrNone);
  int firstOverrun = -1;
  for (int i = 0; i < 600; i++) {
    tErr err = tPacket_AddByte(p.get(), 0x00);
    if (err == tErrOverrun && firstOverrun < 0) firstOverrun = i;
    if (firstOverrun >= 0) {
      EXPECT_EQ(err, tErrOverrun) << "byte " << i;
    }
  }
  EXPECT_EQ(firstOverrun, 29);  // the 31st byte overall
  EXPECT_FALSE(tPacket_IsComplete(p.get()));
  ASSERT_EQ(tPacket_Reset(p.get()), tErrNone);
  EXPECT_EQ(tPacket_AddByte(p.get(), 0x04), tErrNone);
  EXPECT_EQ(tPacket_AddByte(p.get(), 0x00), tErrNone);
  EXPECT_TRUE(tPacket_IsComplete(p.get()));
}

TEST(Packet, ResetClearsEverythingButTheMark) {
  const uint8_t data[3] = {1, 2, 3};
  Owned p(tPacket_CreateWithData(4, 3, data));
  ASSERT_EQ(tPacket_Reset(p.get()), tErrNone);
  EXPECT_EQ(p->check, tPACKETCHECK);
  EXPECT_EQ(p->count, 0);
  EXPECT_EQ(p->address, 0);
  EXPECT_EQ(p->length, 0);
  for (uint8_t b : p->data) EXPECT_EQ(b, 0);
}

TEST(Packet, CreateWithDataRules) {
  uint8_t data[29] = {0};
  EXPECT_EQ(tPacket_CreateWithData(2, 29, data), nullptr);
  EXPECT_EQ(tPacket_CreateWithData(2, 0, nullptr), nullptr);
  Owned empty(tPacket_CreateWithData(2, 0, data));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->count, 2);
  EXPECT_TRUE(tPacket_IsComplete(empty.get()));
  data[0] = 9;
  data[27] = 7;
  Owned full(tPacket_CreateWithData(2, 28, data));
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->count, 30);
  EXPECT_EQ(full->data[27], 7);
}

TEST(Packet, CopyIsCompleteAndRefusesABadMark) {
  const uint8_t data[2] = {0x10, 0xC5};
  Owned p(tPacket_CreateWithData(6, 2, data));
  Owned copy(tPacket_Copy(p.get()));
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy.get(), p.get());
  EXPECT_TRUE(tPacket_IsComplete(copy.get()));
  EXPECT_EQ(copy->address, 6);
  EXPECT_EQ(copy->data[1], 0xC5);
  p->check = 0xBEEE;
  EXPECT_EQ(tPacket_Copy(p.get()), nullptr);
  EXPECT_EQ(tPacket_Reset(p.get()), tErrParam);
  EXPECT_EQ(tPacket_AddByte(p.get(), 1), tErrParam);
  EXPECT_FALSE(tPacket_IsComplete(p.get()));
  EXPECT_EQ(tPacket_Copy(nullptr), nullptr);
}

TEST(Packet, GetBytesBounds) {
  const uint8_t data[3] = {0x11, 0x22, 0x33};
  Owned p(tPacket_CreateWithData(6, 3, data));
  uint8_t buffer[8];
  memset(buffer, 0xEE, sizeof(buffer));
  size_t n = 99;
  EXPECT_EQ(tPacket_GetBytes(p.get(), buffer, 4, &n), tErrOverrun);
  EXPECT_EQ(n, 99u);
  for (uint8_t b : buffer) EXPECT_EQ(b, 0xEE);  // nothing written
  ASSERT_EQ(tPacket_GetBytes(p.get(), buffer, 5, &n), tErrNone);
  EXPECT_EQ(n, 5u);
  const uint8_t expected[5] = {0x06, 0x03, 0x11, 0x22, 0x33};
  EXPECT_EQ(memcmp(buffer, expected, 5), 0);
  EXPECT_EQ(buffer[5], 0xEE);
  EXPECT_EQ(tPacket_GetBytes(p.get(), buffer, 5, nullptr), tErrNone);
  EXPECT_EQ(tPacket_GetBytes(p.get(), nullptr, 5, &n), tErrParam);
  EXPECT_EQ(tPacket_GetBytes(nullptr, buffer, 5, &n), tErrParam);
}

TEST(Packet, GetBytesOfAFailedAssemblyNeverReadsPastThePayload) {
  Owned p(tPacket_Create());
  tPacket_AddByte(p.get(), 0x06);
  ASSERT_EQ(tPacket_AddByte(p.get(), 0xFF), tErrPacket);
  uint8_t buffer[300];
  EXPECT_EQ(tPacket_GetBytes(p.get(), buffer, sizeof(buffer), nullptr), tErrPacket);
}

TEST(Packet, HeaderAccessors) {
  const uint8_t data[3] = {0x10, 0xC5, 0xE3};
  Owned two(tPacket_CreateWithData(6, 2, data));
  Owned three(tPacket_CreateWithData(6, 3, data));
  Owned none(tPacket_CreateWithData(6, 0, data));
  uint8_t out = 0x77;
  EXPECT_EQ(tPacket_GetCmd(two.get(), &out), tErrNone);
  EXPECT_EQ(out, 0x10);
  EXPECT_EQ(tPacket_GetOption(two.get(), &out), tErrNone);
  EXPECT_EQ(out, 0x05);
  out = 0x77;
  EXPECT_EQ(tPacket_GetIndex(two.get(), &out), tErrPacket);
  EXPECT_EQ(out, 0x77);
  EXPECT_EQ(tPacket_GetIndex(three.get(), &out), tErrNone);
  EXPECT_EQ(out, 0x03);
  EXPECT_EQ(tPacket_GetCmd(none.get(), &out), tErrPacket);
  EXPECT_EQ(tPacket_GetCmd(two.get(), nullptr), tErrParam);
  EXPECT_EQ(tPacket_GetCmd(nullptr, &out), tErrPacket);
}

TEST(Packet, DestroyNullsAndRefusesNull) {
  tPacket* p = tPacket_Create();
  EXPECT_EQ(tPacket_Destroy(&p), tErrNone);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(tPacket_Destroy(&p), tErrParam);
  EXPECT_EQ(tPacket_Destroy(nullptr), tErrParam);
}

}  // namespace

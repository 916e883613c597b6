// The static helpers of the LPC ISP driver: uuencoding, checksums, the
// sector table, return-code names and copy lengths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "recovery/NXPSerialClass.h"
#include "tests/recovery/LogCapture.h"

namespace {

struct UuCase {
  const char* name;
  std::vector<uint8_t> data;
  const char* line;
};

void PrintTo(const UuCase& c, std::ostream* os) { *os << c.name; }

class Uuencode : public ::testing::TestWithParam<UuCase> {};

TEST_P(Uuencode, EncodesAndDecodesTheKnownLine) {
  const UuCase& c = GetParam();
  char line[64];
  memset(line, 'x', sizeof(line));
  EXPECT_EQ(NXPSerialClass::uuencode(line, c.data.data(), static_cast<unsigned>(c.data.size())), c.data.size());
  EXPECT_STREQ(line, c.line);
  std::vector<uint8_t> back(c.data.size() + 4, 0xEE);
  EXPECT_EQ(NXPSerialClass::uudecode(back.data(), static_cast<unsigned>(c.data.size()), line), c.data.size());
  EXPECT_TRUE(std::equal(c.data.begin(), c.data.end(), back.begin()));
  EXPECT_EQ(back[c.data.size()], 0xEE);  // nothing past the count
}

INSTANTIATE_TEST_SUITE_P(
    Table, Uuencode,
    ::testing::Values(UuCase{"Zeros", {0, 0, 0}, "#````"},  // a zero sextet is the grave accent
                      UuCase{"Cat", {'C', 'a', 't'}, "#0V%T"},
                      UuCase{"OneByte", {0xFF}, "!_P``"},
                      UuCase{"FourBytes", {0x01, 0x02, 0x03, 0x04}, "$`0(#!```"},
                      UuCase{"Empty", {}, "`"}),
    [](const ::testing::TestParamInfo<UuCase>& info) { return info.param.name; });

TEST(Uuencode, FullLineIsMAndSixtyCharactersAndEveryLengthRoundTrips) {
  uint8_t data[45];
  for (int i = 0; i < 45; i++) data[i] = static_cast<uint8_t>(i * 11 + 3);
  char line[64];
  EXPECT_EQ(NXPSerialClass::uuencode(line, data, 45), 45u);
  EXPECT_EQ(line[0], 'M');
  EXPECT_EQ(strlen(line), 61u);
  // More than a line's worth is cut to one line.
  uint8_t more[60] = {0};
  EXPECT_EQ(NXPSerialClass::uuencode(line, more, 60), 45u);
  for (unsigned n = 0; n <= 45; n++) {
    NXPSerialClass::uuencode(line, data, n);
    std::string withEnd = std::string(line) + "\r\n";
    uint8_t back[45];
    ASSERT_EQ(NXPSerialClass::uudecode(back, 45, withEnd.c_str()), n);
    EXPECT_EQ(memcmp(back, data, n), 0) << n;
  }
}

TEST(Uudecode, NeverWritesPastRoomNorReadsPastTheLine) {
  qntest::LogCapture log(DEBUG_NXPSerial);
  uint8_t out[8];
  memset(out, 0xEE, sizeof(out));
  // The count says 45 bytes but the room is 4: refused, nothing written.
  EXPECT_EQ(NXPSerialClass::uudecode(out, 4, "M````````````````````````````````````````````````````````````"), 0u);
  for (uint8_t b : out) EXPECT_EQ(b, 0xEE);
  // The count says 45 bytes but the line holds four characters: refused.
  const char* shortLine = "M!!!!";
  uint8_t big[64];
  memset(big, 0xEE, sizeof(big));
  EXPECT_EQ(NXPSerialClass::uudecode(big, 64, shortLine), 0u);
  EXPECT_EQ(big[0], 0xEE);
  EXPECT_EQ(log.Count("Error buffer overrun\n"), 1u);
  // The line end does not count as data.
  EXPECT_EQ(NXPSerialClass::uudecode(big, 64, "#``\r\n"), 0u);
  EXPECT_EQ(NXPSerialClass::uudecode(big, 64, ""), 0u);
  EXPECT_EQ(NXPSerialClass::uudecode(nullptr, 64, "#````"), 0u);
}

TEST(NXPSerial, SumIsThePlainByteSum) {
  const uint8_t data[4] = {0xFF, 0xFF, 0x01, 0x00};
  EXPECT_EQ(NXPSerialClass::sum(data, 4), 0x1FFu);
  EXPECT_EQ(NXPSerialClass::sum(data, 0), 0u);
}

TEST(NXPSerial, SectorFromAddress) {
  const std::pair<unsigned, unsigned> cases[] = {{0x0, 0},       {0x0FFF, 0},   {0x1000, 1},  {0xFFFF, 15},
                                                 {0x10000, 16}, {0x17FFF, 16}, {0x18000, 17}, {0x7FFFF, 29},
                                                 {0x80000, 30}, {0xFFFFFFFF, 30}};
  for (auto c : cases) EXPECT_EQ(NXPSerialClass::SectorFromAddress(c.first), c.second) << std::hex << c.first;
  EXPECT_EQ(NXPSerialClass::NXP_LPC17XX_sectors[30].size, 0u);
  EXPECT_EQ(NXPSerialClass::NXP_LPC17XX_sectors[30].start, 0xFFFFFFFFu);
}

TEST(NXPSerial, ErrorTexts) {
  EXPECT_STREQ(NXPSerialClass::GetErrorText("0"), "CMD_SUCCESS");
  EXPECT_STREQ(NXPSerialClass::GetErrorText("9\r\n"), "SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION");
  EXPECT_STREQ(NXPSerialClass::GetErrorText("19"), "CODE_READ_PROTECTION_ENABLED");
  EXPECT_STREQ(NXPSerialClass::GetErrorText("20"), "Unknown error");
  EXPECT_STREQ(NXPSerialClass::GetErrorText("-1"), "Unknown error");
  EXPECT_STREQ(NXPSerialClass::GetErrorText(nullptr), "Unknown error");
}

TEST(NXPSerial, CopyLength) {
  qntest::LogCapture log(DEBUG_NXPSerial);
  const std::pair<unsigned, unsigned> cases[] = {{1, 256},     {256, 256},   {257, 512},   {512, 512},
                                                 {1000, 1024}, {1025, 4096}, {4096, 4096}, {5000, 5000}};
  for (auto c : cases) EXPECT_EQ(NXPSerialClass::CopyLength(c.first), c.second) << c.first;
  EXPECT_NE(log.Text().find("Copy length is too large. 5000 > 4096.\n"), std::string::npos);
}

}  // namespace

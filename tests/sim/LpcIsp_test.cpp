#include "sim/lpc/LpcIsp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/lpc/LpcUu.h"

namespace {

using lpcsim::LpcIsp;
using lpcsim::LpcIspOptions;
using lpcsim::LpcMemory;

// Drives the ROM by whole lines, as a host does.
class Rom {
 public:
  explicit Rom(const LpcIspOptions& options = LpcIspOptions()) : isp(options) {}
  std::string Send(const std::string& text) {
    for (char c : text) isp.Receive(static_cast<uint8_t>(c));
    return isp.TakeOutput();
  }
  // Synchronised, unlocked, echo off: only answers come back.
  void Ready() {
    Send("?");
    Send("Synchronized\r\n");
    Send("14746\r\n");
    Send("A 0\r\n");
    ASSERT_EQ(Send("U 23130\r\n"), "0\r\n");
  }
  LpcIsp isp;
};

uint32_t Sum(const std::vector<uint8_t>& d) {
  uint32_t s = 0;
  for (uint8_t b : d) s += b;
  return s;
}

// Writes data to RAM at address with checksums after every 20 lines.
void WriteRam(Rom& rom, uint32_t address, const std::vector<uint8_t>& data) {
  ASSERT_EQ(rom.Send("W " + std::to_string(address) + " " + std::to_string(data.size()) + "\r\n"), "0\r\n");
  size_t group = 0;
  int lines = 0;
  for (size_t at = 0; at < data.size(); at += 45) {
    size_t n = std::min<size_t>(45, data.size() - at);
    EXPECT_EQ(rom.Send(lpcsim::UuEncodeLine(&data[at], n) + "\r\n"), "");
    lines++;
    if (lines == 20 || at + n == data.size()) {
      std::vector<uint8_t> part(data.begin() + group, data.begin() + at + n);
      ASSERT_EQ(rom.Send(std::to_string(Sum(part)) + "\r\n"), "OK\r\n");
      group = at + n;
      lines = 0;
    }
  }
}

TEST(LpcIsp, SynchronisesWithEchoAndAnswersOnlyAfterIt) {
  Rom rom;
  EXPECT_EQ(rom.Send("x"), "");  // autobaud: nothing but "?" counts
  EXPECT_EQ(rom.Send("?"), "Synchronized\r\n");
  EXPECT_FALSE(rom.isp.synchronized());
  EXPECT_EQ(rom.Send("Synchronized\r\n"), "Synchronized\r\nOK\r\n");
  EXPECT_EQ(rom.Send("14746\r\n"), "14746\r\nOK\r\n");
  EXPECT_TRUE(rom.isp.synchronized());
  EXPECT_EQ(rom.isp.crystalKHz(), 14746u);
  EXPECT_EQ(rom.Send("J\r\n"), "J\r\n0\r\n637615927\r\n");
  EXPECT_EQ(rom.Send("A 0\r\n"), "A 0\r\n0\r\n");
  EXPECT_EQ(rom.Send("K\r\n"), "0\r\n4\r\n1\r\n");
  EXPECT_EQ(rom.Send("A 1\r\n"), "0\r\n");
  EXPECT_EQ(rom.Send("N\r\n"), "N\r\n0\r\n1369490417\r\n729683222\r\n682545830\r\n2885096840\r\n");
}

TEST(LpcIsp, AWrongSynchronizedLineGoesBackToAutobaud) {
  Rom rom;
  rom.Send("?");
  rom.Send("Synchronised\r\n");
  EXPECT_FALSE(rom.isp.synchronized());
  EXPECT_EQ(rom.Send("?"), "Synchronized\r\n");
}

struct CommandCase {
  const char* name;
  const char* command;
  const char* answer;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

class LpcIspCommand : public ::testing::TestWithParam<CommandCase> {};

TEST_P(LpcIspCommand, AnswersWithTheReturnCode) {
  Rom rom;
  rom.Send("?");
  rom.Send("Synchronized\r\n");
  rom.Send("14746\r\n");
  rom.Send("A 0\r\n");
  EXPECT_EQ(rom.Send(std::string(GetParam().command) + "\r\n"), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LpcIspCommand,
    ::testing::Values(CommandCase{"UnlockCode", "U 23130", "0\r\n"},
                      CommandCase{"OtherUnlockCode", "U 00063", "16\r\n"},
                      CommandCase{"UnlockWithoutCode", "U", "12\r\n"},
                      CommandCase{"EraseLocked", "E 0 0", "15\r\n"},
                      CommandCase{"CopyLocked", "C 0 268439552 256", "15\r\n"},
                      CommandCase{"GoLocked", "G 0 T", "15\r\n"},
                      CommandCase{"PrepareBackwards", "P 3 1", "12\r\n"},
                      CommandCase{"PrepareBadSector", "P 0 30", "7\r\n"},
                      CommandCase{"BaudRate", "B 57600 1", "0\r\n"},
                      CommandCase{"BadBaudRate", "B 14400 1", "17\r\n"},
                      CommandCase{"BadStopBit", "B 9600 3", "18\r\n"},
                      CommandCase{"WriteUnaligned", "W 268439554 4", "13\r\n"},
                      CommandCase{"WriteBadCount", "W 268439552 6", "6\r\n"},
                      CommandCase{"WriteUnmapped", "W 1073741824 4", "14\r\n"},
                      CommandCase{"ReadBadCount", "R 0 3", "6\r\n"},
                      CommandCase{"NotANumber", "P 0x1 2", "12\r\n"},
                      // 2^32 + 0x10001000 is no RAM address, however it wraps.
                      CommandCase{"NumberAbove32Bits", "W 4563406848 4", "12\r\n"},
                      CommandCase{"Unknown", "Z 1", "1\r\n"},
                      CommandCase{"BlankErasedFlash", "I 0 29", "0\r\n"}),
    [](const ::testing::TestParamInfo<CommandCase>& info) { return info.param.name; });

TEST(LpcIsp, FailCommandOptionAnswersEveryCommandOfItsLetter) {
  LpcIspOptions options;
  options.failLetter = 'P';
  options.failCode = 10;
  Rom rom(options);
  rom.Ready();
  EXPECT_EQ(rom.Send("P 0 0\r\n"), "10\r\n");
  EXPECT_FALSE(rom.isp.memory().Prepared(0));
}

TEST(LpcIsp, CopyNeedsUnlockPreparedSectorsAndAlignedArguments) {
  Rom rom;
  rom.Ready();
  std::vector<uint8_t> data(256);
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i * 7);
  WriteRam(rom, 0x10001000, data);
  EXPECT_EQ(rom.Send("C 4096 268439552 256\r\n"), "9\r\n");  // not prepared
  EXPECT_EQ(rom.Send("C 4100 268439552 256\r\n"), "3\r\n");
  EXPECT_EQ(rom.Send("C 4096 268439553 256\r\n"), "2\r\n");
  EXPECT_EQ(rom.Send("C 4096 268439552 300\r\n"), "6\r\n");
  EXPECT_EQ(rom.Send("C 524288 268439552 256\r\n"), "5\r\n");
  EXPECT_EQ(rom.Send("C 4096 1073741824 256\r\n"), "4\r\n");
  EXPECT_EQ(rom.Send("P 1 1\r\n"), "0\r\n");
  EXPECT_EQ(rom.Send("C 4096 268439552 256\r\n"), "0\r\n");
  const std::vector<uint8_t>& flash = rom.isp.memory().flash();
  EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin() + 4096));
  // The copy protected the sector again.
  EXPECT_FALSE(rom.isp.memory().Prepared(1));
  EXPECT_EQ(rom.Send("C 4096 268439552 256\r\n"), "9\r\n");
  EXPECT_EQ(rom.Send("I 1 1\r\n"), "8\r\n0\r\n" + std::to_string(0x150E0700u) + "\r\n");
}

TEST(LpcIsp, CopyOverUnerasedFlashOnlyClearsBits) {
  Rom rom;
  rom.Ready();
  std::vector<uint8_t> first(256, 0xF0), second(256, 0x3C);
  WriteRam(rom, 0x10001000, first);
  rom.Send("P 0 0\r\n");
  ASSERT_EQ(rom.Send("C 0 268439552 256\r\n"), "0\r\n");
  WriteRam(rom, 0x10001000, second);
  rom.Send("P 0 0\r\n");
  ASSERT_EQ(rom.Send("C 0 268439552 256\r\n"), "0\r\n");
  EXPECT_EQ(rom.isp.memory().flash()[0], 0x30);  // 0xF0 & 0x3C
  // Erasing needs a prepare too, and then the sector takes new data.
  EXPECT_EQ(rom.Send("E 0 0\r\n"), "9\r\n");
  rom.Send("P 0 0\r\n");
  EXPECT_EQ(rom.Send("E 0 0\r\n"), "0\r\n");
  EXPECT_EQ(rom.isp.memory().flash()[0], 0xFF);
  EXPECT_EQ(rom.Send("I 0 0\r\n"), "0\r\n");
}

TEST(LpcIsp, WriteChecksumsAndResend) {
  LpcIspOptions options;
  options.resendScript = ".R";
  options.resendNext = 1;
  Rom rom(options);
  rom.Ready();
  std::vector<uint8_t> data(1800);
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i ^ (i >> 8));
  ASSERT_EQ(rom.Send("W 268439552 1800\r\n"), "0\r\n");
  auto group = [&](size_t from) {
    for (size_t at = from; at < from + 900; at += 45) rom.Send(lpcsim::UuEncodeLine(&data[at], 45) + "\r\n");
    std::vector<uint8_t> part(data.begin() + from, data.begin() + from + 900);
    return rom.Send(std::to_string(Sum(part)) + "\r\n");
  };
  EXPECT_EQ(group(0), "OK\r\n");       // script '.': on the merits
  EXPECT_EQ(group(900), "RESEND\r\n");  // script 'R'
  EXPECT_EQ(group(900), "RESEND\r\n");  // then --resend 1
  EXPECT_EQ(group(900), "OK\r\n");
  std::vector<uint8_t> ram;
  ASSERT_TRUE(rom.isp.memory().ReadBytes(0x10001000, 1800, &ram));
  EXPECT_EQ(ram, data);
  EXPECT_EQ(rom.Send("J\r\n"), "0\r\n637615927\r\n");  // back in command mode
}

TEST(LpcIsp, WrongWriteChecksumAsksForTheGroupAgain) {
  Rom rom;
  rom.Ready();
  ASSERT_EQ(rom.Send("W 268439552 4\r\n"), "0\r\n");
  const uint8_t four[4] = {1, 2, 3, 4};
  rom.Send(lpcsim::UuEncodeLine(four, 4) + "\r\n");
  EXPECT_EQ(rom.Send("11\r\n"), "RESEND\r\n");
  rom.Send(lpcsim::UuEncodeLine(four, 4) + "\r\n");
  EXPECT_EQ(rom.Send("10\r\n"), "OK\r\n");
}

TEST(LpcIsp, ReadSendsGroupsWithChecksumsAndResendsOnRequest) {
  LpcIspOptions options;
  options.badReadChecksums = 1;
  Rom rom(options);
  rom.Ready();
  std::vector<uint8_t> data(948);
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i * 13 + 1);
  WriteRam(rom, 0x10000000, data);
  std::string first = rom.Send("R 268435456 948\r\n");
  // "0", 20 lines, then a checksum that is wrong on purpose.
  std::vector<uint8_t> part(data.begin(), data.begin() + 900);
  std::string lines;
  for (size_t at = 0; at < 900; at += 45) lines += lpcsim::UuEncodeLine(&data[at], 45) + "\r\n";
  EXPECT_EQ(first, "0\r\n" + lines + std::to_string(Sum(part) + 1) + "\r\n");
  EXPECT_EQ(rom.Send("RESEND\r\n"), lines + std::to_string(Sum(part)) + "\r\n");
  std::vector<uint8_t> tail(data.begin() + 900, data.end());
  EXPECT_EQ(rom.Send("OK\r\n"), lpcsim::UuEncodeLine(&data[900], 45) + "\r\n" +
                                    lpcsim::UuEncodeLine(&data[945], 3) + "\r\n" + std::to_string(Sum(tail)) +
                                    "\r\n");
  EXPECT_EQ(rom.Send("OK\r\n"), "");
  EXPECT_EQ(rom.Send("J\r\n"), "0\r\n637615927\r\n");
}

TEST(LpcIsp, BaudChangeAppliesAfterTheAnswer) {
  Rom rom;
  rom.Ready();
  uint32_t baud = 0;
  EXPECT_FALSE(rom.isp.TakeBaudChange(&baud));
  EXPECT_EQ(rom.Send("B 38400 1\r\n"), "0\r\n");
  ASSERT_TRUE(rom.isp.TakeBaudChange(&baud));
  EXPECT_EQ(baud, 38400u);
  EXPECT_FALSE(rom.isp.TakeBaudChange(&baud));
}

TEST(LpcIsp, GoRunsTheUserCodeAndTheHandlerFallsSilent) {
  Rom rom;
  rom.Ready();
  std::vector<std::string> notes;
  rom.isp.SetNotes([&](const std::string& n) { notes.push_back(n); });
  EXPECT_EQ(rom.Send("G 0 X\r\n"), "12\r\n");
  EXPECT_EQ(rom.Send("G 2 T\r\n"), "13\r\n");           // not on a word boundary
  EXPECT_EQ(rom.Send("G 1073741824 T\r\n"), "14\r\n");  // neither flash nor RAM
  EXPECT_FALSE(rom.isp.running());
  EXPECT_EQ(rom.Send("G 0 T\r\n"), "0\r\n");
  EXPECT_TRUE(rom.isp.running());
  EXPECT_EQ(rom.Send("J\r\n?"), "");
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("go to 0x00000000"), std::string::npos);
  EXPECT_NE(notes[0].find("not valid"), std::string::npos);  // erased flash has no valid vectors
}

TEST(LpcIsp, OverlongLinesAreIgnored) {
  Rom rom;
  rom.Ready();
  EXPECT_EQ(rom.Send(std::string(500, 'J') + "\r\n"), "");
  EXPECT_EQ(rom.Send("J\r\n"), "0\r\n637615927\r\n");
}

TEST(LpcMemory, SectorTable) {
  EXPECT_EQ(LpcMemory::SectorOf(0x0FFF), 0);
  EXPECT_EQ(LpcMemory::SectorOf(0x1000), 1);
  EXPECT_EQ(LpcMemory::SectorOf(0xFFFF), 15);
  EXPECT_EQ(LpcMemory::SectorOf(0x10000), 16);
  EXPECT_EQ(LpcMemory::SectorOf(0x7FFFF), 29);
  EXPECT_EQ(LpcMemory::SectorOf(0x80000), -1);
  EXPECT_EQ(LpcMemory::SectorStart(29) + LpcMemory::SectorSize(29), LpcMemory::kFlashSize);
}

TEST(LpcUu, LinesRoundTrip) {
  for (size_t n = 0; n <= 45; n++) {
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; i++) data[i] = static_cast<uint8_t>(i * 37 + n);
    std::string line = lpcsim::UuEncodeLine(data.data(), n);
    EXPECT_EQ(line.size(), 1 + (n + 2) / 3 * 4);
    std::vector<uint8_t> back;
    ASSERT_TRUE(lpcsim::UuDecodeLine(line, &back));
    EXPECT_EQ(back, data);
  }
  std::vector<uint8_t> out;
  EXPECT_FALSE(lpcsim::UuDecodeLine("M````", &out));  // claims 45 bytes, holds 3
}

}  // namespace

// The LPC ISP driver against the boot ROM simulator on a pseudo-terminal.
#include "recovery/NXPSerialClass.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/recovery/LogCapture.h"
#include "tests/support/LpcSim.h"

namespace {

using qntest::LogCapture;
using qntest::LpcSim;

std::vector<uint8_t> Pattern(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data(n);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  return data;
}

// A synchronised chip.
class Chip {
 public:
  explicit Chip(const std::vector<std::string>& args = {}) : sim(args) {
    EXPECT_FALSE(sim.path().empty());
    EXPECT_EQ(nxp.Connect(sim.path().c_str(), 115200), tErrNone);
    EXPECT_EQ(nxp.Sync(), tErrNone);
  }
  LpcSim sim;
  NXPSerialClass nxp;
};

TEST(NXPSerialConnect, ChoosesTheFirstRateNotBelowTheRequest) {
  LpcSim sim;
  const std::pair<unsigned, unsigned> cases[] = {{100000, 115200}, {2400, 2400},     {1, 2400},
                                                 {230400, 230400}, {1000000, 9600}, {9601, 19200}};
  NXPSerialClass nxp;
  for (auto c : cases) {
    ASSERT_EQ(nxp.Connect(sim.path().c_str(), c.first), tErrNone);
    EXPECT_EQ(nxp.baudRate(), c.second) << c.first;
    EXPECT_STREQ(nxp.portName(), sim.path().c_str());
  }
  EXPECT_EQ(nxp.Disconnect(), tErrNone);
  EXPECT_EQ(nxp.Disconnect(), tErrNone);
}

TEST(NXPSerialConnect, AMissingPortIsNotFoundAndLogged) {
  LogCapture log(DEBUG_NXPSerial);
  NXPSerialClass nxp;
  EXPECT_EQ(nxp.Connect("/nonexistent/ttyLPC", 115200), tErrNotFound);
  EXPECT_NE(log.Text().find("Creating serial connection: [/nonexistent/ttyLPC] stream baud:6(115200)\n"),
            std::string::npos);
  EXPECT_NE(log.Text().find("Error Creating Serial [/nonexistent/ttyLPC] ==> tErrNotFound"), std::string::npos);
}

TEST(NXPSerial, SyncAndTheIdentityQueries) {
  Chip chip({"--serial", "0x11223344,5,0xFFFFFFFF,0", "--part-id", "0x25001118", "--boot-version", "3.5"});
  ASSERT_EQ(chip.nxp.GetDeviceID(), tErrNone);
  const uint32_t* serial = chip.nxp.deviceSerial();
  EXPECT_EQ(serial[0], 0x11223344u);
  EXPECT_EQ(serial[1], 5u);
  EXPECT_EQ(serial[2], 0xFFFFFFFFu);
  EXPECT_EQ(serial[3], 0u);
  LogCapture log(DEBUG_NXPSerial);
  long part = 0;
  ASSERT_EQ(chip.nxp.GetPartNumber(&part), tErrNone);
  EXPECT_EQ(part, 0x25001118);
  uint8_t major = 0, minor = 0;
  ASSERT_EQ(chip.nxp.GetBootLoaderVersion(&major, &minor), tErrNone);
  EXPECT_EQ(major, 3);
  EXPECT_EQ(minor, 5);
  EXPECT_NE(log.Text().find("Device responded with part number: 620761368\n"), std::string::npos);
  EXPECT_NE(log.Text().find("Device responded with version: 3.5\n"), std::string::npos);
  EXPECT_EQ(chip.nxp.GetPartNumber(nullptr), tErrParam);
}

TEST(NXPSerial, DefaultPartIsAnLpc1768) {
  Chip chip;
  long part = 0;
  ASSERT_EQ(chip.nxp.GetPartNumber(&part), tErrNone);
  EXPECT_EQ(part, 0x26013F37);
}

TEST(NXPSerial, SyncFailsOnAChipThatIsNotInAutobaud) {
  Chip chip;
  // The chip is synchronised already: it takes "?" as a command character.
  EXPECT_NE(chip.nxp.Sync(), tErrNone);
}

TEST(NXPSerial, SyncOnAPacedLine) {
  LpcSim sim({"--pace", "--baud", "115200"});
  NXPSerialClass nxp;
  ASSERT_EQ(nxp.Connect(sim.path().c_str(), 115200), tErrNone);
  EXPECT_EQ(nxp.Sync(), tErrNone);
  long part = 0;
  EXPECT_EQ(nxp.GetPartNumber(&part), tErrNone);
}

// At 2400 baud a character takes over 4 ms: a data line takes a quarter of
// a second, and ten lines take longer than 2000 pauses of 1 ms. The tries
// count quiet spells of the line, not milliseconds.
TEST(NXPSerial, WriteAndReadOnASlowPacedLine) {
  LpcSim sim({"--pace", "--baud", "2400"});
  NXPSerialClass nxp;
  ASSERT_EQ(nxp.Connect(sim.path().c_str(), 2400), tErrNone);
  ASSERT_EQ(nxp.Sync(), tErrNone);
  ASSERT_EQ(nxp.SetEcho(false), tErrNone);
  std::vector<uint8_t> data = Pattern(452, 6);
  ASSERT_EQ(nxp.Write(NXPSerialClass::WRITE_ADDRESS, 452, data.data()), tErrNone);
  std::vector<uint8_t> back(48);
  ASSERT_EQ(nxp.Read(NXPSerialClass::WRITE_ADDRESS, 48, back.data()), tErrNone);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin()));
}

TEST(NXPSerial, UnlockPrepareAndEraseRules) {
  Chip chip;
  LogCapture log(DEBUG_NXPSerial | DEBUG_NXPSerial_SR);
  EXPECT_EQ(chip.nxp.Erase(0, 0), tErrParam);  // locked
  EXPECT_NE(log.Text().find("Error response ==>[CMD_LOCKED]\n"), std::string::npos);
  ASSERT_EQ(chip.nxp.Unlock(), tErrNone);
  EXPECT_NE(log.Text().find("U 23130"), std::string::npos);
  EXPECT_EQ(chip.nxp.Erase(0, 1), tErrParam);  // not prepared
  EXPECT_NE(log.Text().find("Error response ==>[SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION]\n"), std::string::npos);
  EXPECT_EQ(chip.nxp.Prepare(0, 30), tErrParam);
  EXPECT_NE(log.Text().find("Error response ==>[INVALID_SECTOR]\n"), std::string::npos);
  size_t sent = log.Count("Sending:");
  EXPECT_EQ(chip.nxp.Prepare(3, 1), tErrParam);
  EXPECT_EQ(chip.nxp.Erase(3, 1), tErrParam);
  EXPECT_EQ(log.Count("Sending:"), sent);  // refused before sending
  EXPECT_EQ(chip.nxp.Prepare(0, 29), tErrNone);
  EXPECT_EQ(chip.nxp.Erase(0, 29), tErrNone);
}

TEST(NXPSerial, SetEchoAndSetBaudRate) {
  Chip chip;
  EXPECT_TRUE(chip.nxp.echo());
  LogCapture log(DEBUG_NXPSerial);
  ASSERT_EQ(chip.nxp.SetEcho(false), tErrNone);
  EXPECT_FALSE(chip.nxp.echo());
  EXPECT_NE(log.Text().find("Setting device echo 0\n"), std::string::npos);
  long part = 0;
  EXPECT_EQ(chip.nxp.GetPartNumber(&part), tErrNone);
  ASSERT_EQ(chip.nxp.SetEcho(true), tErrNone);
  EXPECT_TRUE(chip.nxp.echo());
  EXPECT_EQ(chip.nxp.GetPartNumber(&part), tErrNone);
  // A return code of two digits is read at its last digit with echo on:
  // INVALID_BAUD_RATE is 17, not success.
  EXPECT_EQ(chip.nxp.SetBaudRate(14400), tErrParam);
  EXPECT_EQ(chip.nxp.SetBaudRate(115200), tErrNone);
}

// COMPARE_ERROR is 10: its last digit is '0', yet it is a failure, with echo
// on as with echo off.
TEST(NXPSerial, AReturnCodeEndingInZeroIsNotSuccess) {
  for (bool echo : {true, false}) {
    Chip chip({"--fail-command", "P:10"});
    ASSERT_EQ(chip.nxp.SetEcho(echo), tErrNone);
    LogCapture log(DEBUG_NXPSerial);
    EXPECT_EQ(chip.nxp.Prepare(0, 0), tErrParam) << "echo " << echo;
    EXPECT_NE(log.Text().find("Error response ==>[COMPARE_ERROR]\n"), std::string::npos);
  }
}

TEST(NXPSerial, CopyToFlashArgumentRules) {
  Chip chip;
  LogCapture log(DEBUG_NXPSerial_SR);
  EXPECT_EQ(chip.nxp.CopyToFlash(0x10080, NXPSerialClass::WRITE_ADDRESS, 256), tErrParam);
  EXPECT_EQ(chip.nxp.CopyToFlash(0x10000, NXPSerialClass::WRITE_ADDRESS, 2048), tErrParam);
  EXPECT_EQ(chip.nxp.CopyToFlash(0x10000, NXPSerialClass::WRITE_ADDRESS, 0), tErrParam);
  EXPECT_EQ(log.Count("Sending:"), 0u);
  EXPECT_EQ(chip.nxp.CopyToFlash(0x10000, NXPSerialClass::WRITE_ADDRESS, 4096), tErrParam);  // locked
}

TEST(NXPSerial, WriteRefusesCountsThatAreNotWholeWords) {
  Chip chip;
  LogCapture log(DEBUG_NXPSerial_SR);
  uint8_t data[8] = {0};
  EXPECT_EQ(chip.nxp.Write(NXPSerialClass::WRITE_ADDRESS, 6, data), tErrParam);
  EXPECT_EQ(chip.nxp.Write(NXPSerialClass::WRITE_ADDRESS, 0, data), tErrParam);
  EXPECT_EQ(chip.nxp.Read(0, 6, data), tErrParam);
  EXPECT_EQ(log.Count("Sending:"), 0u);
}

TEST(NXPSerial, WriteOf4096BytesSends92LinesWithFiveChecksums) {
  for (bool echo : {true, false}) {
    Chip chip;
    ASSERT_EQ(chip.nxp.SetEcho(echo), tErrNone);
    std::vector<uint8_t> data = Pattern(4096, 1);
    LogCapture log(DEBUG_NXPSerial | DEBUG_NXPSerial_SR);
    ASSERT_EQ(chip.nxp.Write(NXPSerialClass::WRITE_ADDRESS, 4096, data.data()), tErrNone) << "echo " << echo;
    std::string text = log.Text();
    EXPECT_EQ(log.Count("Write() Checksum: "), 5u);
    // Checksums after lines 20, 40, 60, 80 and 92.
    for (unsigned at : {900u, 1800u, 2700u, 3600u, 4096u}) {
      std::string line = "Write() valid transfer of " + std::to_string(at) + " of 4096";
      EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    // 92 data lines: 91 full ones ('M' = 45 bytes) and one of a single byte ('!').
    EXPECT_EQ(log.Count("Sending:[4D "), 91u);
    EXPECT_EQ(log.Count("Sending:[21 "), 1u);
    std::vector<uint8_t> back(4096);
    ASSERT_EQ(chip.nxp.Read(NXPSerialClass::WRITE_ADDRESS, 4096, back.data()), tErrNone);
    EXPECT_EQ(back, data);
  }
}

struct ResendCase {
  const char* name;
  const char* script;  // the simulator's verdict script
  tErr result;
};

void PrintTo(const ResendCase& c, std::ostream* os) { *os << c.name; }

class WriteResend : public ::testing::TestWithParam<ResendCase> {};

// The budget of three belongs to the whole call and is not refilled after
// an OK: two RESENDs are honoured, a third ends the call.
TEST_P(WriteResend, TheBudgetBelongsToTheCall) {
  Chip chip({"--resend-script", GetParam().script});
  ASSERT_EQ(chip.nxp.Unlock(), tErrNone);
  std::vector<uint8_t> data = Pattern(4096, 2);
  LogCapture log(DEBUG_NXPSerial);
  EXPECT_EQ(chip.nxp.Write(NXPSerialClass::WRITE_ADDRESS, 4096, data.data()), GetParam().result);
  if (GetParam().result == tErrTimeout) {
    EXPECT_NE(log.Text().find("Write() exceeded retries\n"), std::string::npos);
  } else {
    std::vector<uint8_t> back(4096);
    ASSERT_EQ(chip.nxp.Read(NXPSerialClass::WRITE_ADDRESS, 4096, back.data()), tErrNone);
    EXPECT_EQ(back, data);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, WriteResend,
                         ::testing::Values(ResendCase{"None", "", tErrNone},
                                           ResendCase{"TwoInOneGroup", "RR", tErrNone},
                                           ResendCase{"TwoInTwoGroups", "R.R", tErrNone},
                                           ResendCase{"ThreeInOneGroup", "RRR", tErrTimeout},
                                           ResendCase{"ThreeInThreeGroups", "R.R.R", tErrTimeout}),
                         [](const ::testing::TestParamInfo<ResendCase>& info) { return info.param.name; });

TEST(NXPSerial, ReadAsksForBadGroupsAgainWithinTheBudget) {
  for (int bad : {2, 3}) {
    Chip chip({"--bad-read-checksums", std::to_string(bad)});
    std::vector<uint8_t> data = Pattern(2000, 3);
    ASSERT_EQ(chip.nxp.Write(NXPSerialClass::WRITE_ADDRESS, 2000, data.data()), tErrNone);
    std::vector<uint8_t> back(2000);
    tErr err = chip.nxp.Read(NXPSerialClass::WRITE_ADDRESS, 2000, back.data());
    if (bad == 2) {
      ASSERT_EQ(err, tErrNone);
      EXPECT_EQ(back, data);
    } else {
      EXPECT_EQ(err, tErrTimeout);
    }
  }
}

TEST(NXPSerial, ReadWithEchoOffKeepsTheDataLinesWhole) {
  Chip chip;
  ASSERT_EQ(chip.nxp.SetEcho(false), tErrNone);
  std::vector<uint8_t> data = Pattern(4096, 4);
  ASSERT_EQ(chip.nxp.Write(NXPSerialClass::WRITE_ADDRESS, 4096, data.data()), tErrNone);
  std::vector<uint8_t> back(4096);
  ASSERT_EQ(chip.nxp.Read(NXPSerialClass::WRITE_ADDRESS, 4096, back.data()), tErrNone);
  EXPECT_EQ(back, data);
}

// The recovery's way to program the chip: unlock, prepare and erase
// everything, then per 4 KiB chunk a write to RAM, a prepare of the chunk's
// sectors and a copy to flash; then start the code.
TEST(NXPSerial, ProgramsAnImageIn4KiBChunks) {
  qntest::TempDir dir;
  std::string flashFile = dir / "flash.bin";
  std::vector<uint8_t> image = Pattern(70000, 5);
  {
    Chip chip({"--flash-out", flashFile});
    ASSERT_EQ(chip.nxp.Unlock(), tErrNone);
    ASSERT_EQ(chip.nxp.Prepare(0, 29), tErrNone);
    ASSERT_EQ(chip.nxp.Erase(0, 29), tErrNone);
    chip.nxp.SetEcho(false);
    for (unsigned offset = 0; offset < image.size(); offset += 4096) {
      unsigned size = std::min<unsigned>(4096, static_cast<unsigned>(image.size()) - offset);
      std::vector<uint8_t> chunk(image.begin() + offset, image.begin() + offset + size);
      chunk.resize((size + 3) / 4 * 4, 0xFF);
      ASSERT_EQ(chip.nxp.Write(NXPSerialClass::WRITE_ADDRESS, static_cast<unsigned>(chunk.size()), chunk.data()),
                tErrNone);
      ASSERT_EQ(chip.nxp.Prepare(NXPSerialClass::SectorFromAddress(offset),
                                 NXPSerialClass::SectorFromAddress(offset + size - 1)),
                tErrNone);
      ASSERT_EQ(chip.nxp.CopyToFlash(offset, NXPSerialClass::WRITE_ADDRESS, NXPSerialClass::CopyLength(size)),
                tErrNone)
          << offset;
    }
    ASSERT_EQ(chip.nxp.SetEcho(true), tErrNone);
    std::vector<uint8_t> back(8192);
    ASSERT_EQ(chip.nxp.Read(65536, 8192, back.data()), tErrNone);
    EXPECT_TRUE(std::equal(image.begin() + 65536, image.end(), back.begin()));
    EXPECT_EQ(chip.nxp.ExecuteFrom(0), tErrNone);
    ASSERT_EQ(chip.sim.process().Stop(), 0);
    EXPECT_NE(chip.sim.process().Stderr().find("go to 0x00000000 (T)"), std::string::npos);
  }
  std::string flash = qntest::ReadFile(flashFile);
  ASSERT_EQ(flash.size(), 512u * 1024u);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), reinterpret_cast<const uint8_t*>(flash.data())));
  // The last copy wrote a whole 256-byte block; beyond it the flash is erased.
  size_t end = (image.size() + 255) / 256 * 256;
  for (size_t i = end; i < flash.size(); i += 997) ASSERT_EQ(static_cast<uint8_t>(flash[i]), 0xFF) << i;
}

}  // namespace

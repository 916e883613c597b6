// The LPC17xx boot ROM simulator against lpc21isp, an independent host tool
// written for the real ROM: it must recognise the part and program it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <random>
#include <string>

#include "tests/support/LpcSim.h"
#include "tests/support/Process.h"

namespace {

const char* kTool = "/usr/bin/lpc21isp";

class Lpc21isp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(access(kTool, X_OK), 0) << "lpc21isp is missing: scripts/setup installs it";
  }
  // Starts the simulator and returns its slave path.
  std::string Start(const std::vector<std::string>& args) {
    sim.reset(new qntest::LpcSim(args));
    return sim->path();
  }
  std::unique_ptr<qntest::LpcSim> sim;
};

TEST_F(Lpc21isp, DetectsTheDefaultPart) {
  std::string path = Start({});
  ASSERT_FALSE(path.empty());
  qntest::RunResult r = qntest::Run(kTool, {"-detectonly", path, "115200", "14746"}, {});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("LPC1768"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0x26013F37"), std::string::npos) << r.out;
}

TEST_F(Lpc21isp, ProgramsABinaryImage) {
  qntest::TempDir dir;
  std::mt19937 rng(11);
  std::string image(20000, '\0');
  for (char& c : image) c = static_cast<char>(rng());
  qntest::WriteFile(dir / "image.bin", image);
  std::string path = Start({"--flash-out", dir / "flash.bin"});
  ASSERT_FALSE(path.empty());
  qntest::RunOptions options;
  options.timeoutSeconds = 60;
  qntest::RunResult r = qntest::Run(kTool, {"-bin", dir / "image.bin", path, "115200", "14746"}, options);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  ASSERT_EQ(sim->process().Stop(), 0);
  std::string flash = qntest::ReadFile(dir / "flash.bin");
  ASSERT_EQ(flash.size(), 512u * 1024u);
  // lpc21isp patches the vector checksum word (offset 0x1C) so that the ROM
  // takes the image as valid user code; everything else is the image.
  for (size_t i = 0; i < image.size(); i++) {
    if (i >= 0x1C && i < 0x20) continue;
    ASSERT_EQ(flash[i], image[i]) << "offset " << i;
  }
  EXPECT_NE(sim->process().Stderr().find("vector checksum valid"), std::string::npos) << sim->process().Stderr();
}

}  // namespace

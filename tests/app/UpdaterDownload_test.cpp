// The download commands inside the process, against the stand-in: what the
// display is told, the spinner's rhythm, and the recovery form that asks the
// server which device and build a chip fingerprint needs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Updater.h"
#include "tests/server/Fixtures.h"
#include "tests/support/RecordingDisplay.h"

namespace {

class UpdaterDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    qnservertest::AddDevice(repo.path(), 0x40F5849A, {{1234, "2.10.4"}, {1240, "2.10.0"}});
    qnservertest::AddDevice(repo.path(), 0x4A3B2C1D, {{310, "1.4.2"}});
    std::filesystem::create_directories(repo / "recovery");
    qntest::WriteFile(repo / "recovery/0A1B2C3D-4E5F6071-8293A4B5-C6D7E8F9", "4A3B2C1D 310\n");
  }
  qntest::TempDir repo, store;
  qntest::RecordingDisplay display;
};

}  // namespace

TEST_F(UpdaterDownload, SpinnerTurnsAboutTenTimesASecondUntilTheAnswer) {
  qnservertest::StandIn server(repo.path(), {"--delay", "1500:bird"});
  Updater updater(server.url().c_str(), store.path().c_str(), display);
  EXPECT_EQ(updater.Download_Firmware(0x40F5849A, "1234", false, false), 1234u);
  EXPECT_GE(display.SpinnerFrames("Downloading"), 10);
  EXPECT_LE(display.SpinnerFrames("Downloading"), 30);
  EXPECT_EQ(display.spinnerErased, 1);
}

TEST_F(UpdaterDownload, RecoveryFormTakesDeviceAndBuildFromTheServer) {
  qnservertest::StandIn server(repo.path());
  Updater updater(server.url().c_str(), store.path().c_str(), display);
  Fingerprint fp;
  fp.words[0] = 0x0A1B2C3D;
  fp.words[1] = 0x4E5F6071;
  fp.words[2] = 0x8293A4B5;
  fp.words[3] = 0xC6D7E8F9;
  EXPECT_EQ(updater.Download_Firmware(fp, "", false), 310u);
  EXPECT_TRUE(std::filesystem::exists(store / "4A3B2C1D/310.bird"));
  // A build named on the command line wins over the server's.
  EXPECT_EQ(updater.Download_Firmware(fp, "310", false), 310u);

  Fingerprint unknown;
  EXPECT_EQ(updater.Download_Firmware(unknown, "", false), 0u);
  EXPECT_TRUE(
      display.Said("E:Failed to retrieve recovery information from Telvicor update server"));
}

TEST_F(UpdaterDownload, ArgumentChecksComeFirst) {
  Updater updater("http://127.0.0.1:1/cgi/u", store.path().c_str(), display);
  EXPECT_EQ(updater.Download_Firmware(0x40F5849A, "12x", false, false), 0u);
  EXPECT_TRUE(display.Said("E:Build number '12x' must be an number"));
  EXPECT_EQ(updater.Download_Firmware(0x40F5849A, "99999999999", false, false), 0u);
  EXPECT_TRUE(display.Said("E:Build number '99999999999' must be an number"));
  EXPECT_EQ(updater.Download_Firmware(0, "", false, false), 0u);
  EXPECT_TRUE(display.Said("E:Serial Number must be non-zero"));
  EXPECT_EQ(updater.Download_Firmware(0x40F5849A, "", false, false), 0u);
  EXPECT_TRUE(display.Said("E:Server request failed for http://127.0.0.1:1/cgi/u"));
}

#include "app/Log.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>

namespace {

// Points the log at a temporary file and restores the global state after.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedMask_ = Log::package_bitmask;
    savedFh_ = Log::fh;
    out_ = tmpfile();
    Log::SetOutput(out_);
    Log::package_bitmask = 0;
  }
  void TearDown() override {
    Log::SetOutput(savedFh_);
    Log::package_bitmask = savedMask_;
    Log::timestamped = false;
    fclose(out_);
  }
  std::string Written() {
    fflush(out_);
    rewind(out_);
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, out_)) > 0) s.append(buf, n);
    return s;
  }

  FILE* out_ = nullptr;
  uint32_t savedMask_ = 0;
  FILE* savedFh_ = nullptr;
};

TEST_F(LogTest, MaskZeroPassesOnlyPackageZero) {
  Log::log(DEBUG_Updater, "updater\n");
  Log::log(DEBUG_APP, "app\n");
  Log::log(0, "always %d\n", 1);
  EXPECT_EQ(Written(), "always 1\n");
}

TEST_F(LogTest, OnlyActivatedPackagesPass) {
  Log::ActivatePackage(DEBUG_BirdFile);
  Log::log(DEBUG_BirdFile, "bird\n");
  Log::log(DEBUG_Attributes, "attr\n");
  Log::log(DEBUG_Updater | DEBUG_BirdFile, "either\n");
  EXPECT_EQ(Written(), "bird\neither\n");
}

TEST_F(LogTest, AllBitsShowEverything) {
  Log::ActivatePackage(0xFFFFFFFFu);
  for (unsigned p : {DEBUG_Updater, DEBUG_ServerComm, DEBUG_NXPSerial_SR, DEBUG_iMXSerial})
    Log::log(p, "x");
  EXPECT_EQ(Written(), "xxxx");
}

TEST_F(LogTest, DeactivateClearsOnlyItsBits) {
  Log::ActivatePackage(DEBUG_Updater | DEBUG_APP);
  Log::DeactivatePackage(DEBUG_Updater);
  EXPECT_EQ(Log::package_bitmask, DEBUG_APP);
}

TEST_F(LogTest, NoOutputStreamWritesNothing) {
  Log::SetOutput(nullptr);
  Log::log(0, "lost\n");
  Log::SetOutput(out_);
  EXPECT_EQ(Written(), "");
}

TEST_F(LogTest, LongLinesAreCut) {
  std::string text(5000, 'z');
  Log::log(0, "%s", text.c_str());
  EXPECT_EQ(Written(), std::string(2047, 'z'));
}

TEST_F(LogTest, TimestampGoesToStandardOutputForLongFormats) {
  Log::timestamped = true;
  testing::internal::CaptureStdout();
  Log::log(0, "short\n");              // 6 characters: no stamp
  Log::log(0, "a longer format\n");    // stamped
  std::string stamps = testing::internal::GetCapturedStdout();
  EXPECT_EQ(Written(), "short\na longer format\n");
  // "%Y:%m:%d:%H:%M:%S | "
  ASSERT_EQ(stamps.size(), 19u + 3u) << stamps;
  EXPECT_EQ(stamps.substr(19), " | ");
  EXPECT_EQ(stamps[4], ':');
}

}  // namespace

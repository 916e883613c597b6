#include "app/CLI_Display.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/app/PtyCapture.h"

namespace {

using qntest::CaptureStdout;

const std::string kBar(69, '=');

struct BarCase {
  const char* name;
  double fraction;
  const char* label;
  std::string expected;
};

class ProgressBar : public ::testing::TestWithParam<BarCase> {};

TEST_P(ProgressBar, DrawsOnATerminal) {
  CLI_Display display;
  std::string out =
      CaptureStdout(true, [&] { display.update_progress(GetParam().fraction, GetParam().label); });
  EXPECT_EQ(out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgressBar,
    ::testing::Values(
        BarCase{"full", 1.0, nullptr, "\r[" + kBar + ">] (100% ) "},
        BarCase{"empty", 0.0, nullptr, "\r[>" + std::string(68, ' ') + "] (  0% ) "},
        BarCase{"halfLabelled", 0.5, "Loader",
                "\r (Loader) [" + std::string(29, '=') + ">" + std::string(29, ' ') +
                    "] ( 50% ) "},
        BarCase{"quarter", 0.25, nullptr,
                "\r[" + std::string(17, '=') + ">" + std::string(51, ' ') + "] ( 25% ) "}),
    [](const ::testing::TestParamInfo<BarCase>& info) { return std::string(info.param.name); });

TEST(ProgressBar, OverlongLabelStaysInsideTheBar) {
  CLI_Display display;
  std::string label(100, 'L');
  std::string out = CaptureStdout(true, [&] { display.update_progress(0.5, label.c_str()); });
  EXPECT_EQ(out.rfind("\r (" + label + ") [>", 0), 0u) << out;
}

TEST(Spinner, CyclesThroughEightFrames) {
  CLI_Display display;
  const char* frames[] = {".", "..", "...", "....", ".....", "....", "...", ".."};
  // The counter is shared by every display; find where it stands first.
  std::string first = CaptureStdout(true, [&] { display.update_spinner(true, "Downloading"); });
  int start = -1;
  for (int i = 0; i < 8; ++i)
    if (first == std::string("\r (Downloading) ") + frames[i] + "      \r") start = i;
  ASSERT_GE(start, 0) << first;
  // Frames 1 and 7 (and 2/6, 3/5) look alike, so check a whole cycle of ten.
  std::string expected, got;
  for (int k = 1; k <= 10; ++k) {
    expected += std::string("\r ") + frames[(start + k) % 8] + "      \r";
    got += CaptureStdout(true, [&] { display.update_spinner(true, nullptr); });
  }
  EXPECT_EQ(got, expected);
}

TEST(Spinner, InactiveErasesTheLine) {
  CLI_Display display;
  std::string erase = "\r" + std::string(88, ' ') + "\r";
  EXPECT_EQ(CaptureStdout(true, [&] { display.update_spinner(false, "x"); }), erase);
  EXPECT_EQ(CaptureStdout(true, [&] { display.display_progress(false); }), erase);
  EXPECT_EQ(CaptureStdout(true, [&] { display.display_progress(true); }), "");
}

TEST(Display, NothingDrawnOnAPipeButMessagesStillAppear) {
  CLI_Display display;
  std::string out = CaptureStdout(false, [&] {
    display.display_progress(true);
    display.update_progress(0.5, "Firmware");
    display.update_spinner(true, "Downloading");
    display.update_spinner(false, nullptr);
    display.display_progress(false);
    display.message(UpdaterDisplayInterface::Info, "Rebooting %s", "Device");
  });
  EXPECT_EQ(out, "Rebooting Device\n");
}

TEST(Display, ErrorsGoToStandardError) {
  CLI_Display display;
  testing::internal::CaptureStderr();
  std::string out =
      CaptureStdout(false, [&] { display.message(UpdaterDisplayInterface::Error, "bad %d", 7); });
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "bad 7\n");
  EXPECT_EQ(out, "");
}

TEST(Display, LongMessageIsCutNotSplit) {
  CLI_Display display;
  std::string text(3000, 'm');
  std::string out = CaptureStdout(
      false, [&] { display.message(UpdaterDisplayInterface::Info, "%s", text.c_str()); });
  EXPECT_EQ(out, std::string(2047, 'm') + "\n");
}

TEST(Display, MutedDropsMessagesButStillDraws) {
  CLI_Display display;
  display.mute_messages(true);
  testing::internal::CaptureStderr();
  std::string out = CaptureStdout(true, [&] {
    display.message(UpdaterDisplayInterface::Info, "info");
    display.message(UpdaterDisplayInterface::Error, "error");
    display.update_progress(1.0, nullptr);
  });
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(out, "\r[" + kBar + ">] (100% ) ");
  display.mute_messages(false);
}

}  // namespace

// The updater's command line as a user meets it: exit status, standard output
// and standard error for a table of command lines.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/support/Process.h"

namespace {

using qntest::RunResult;

const char kHeader[] =
    "\nApplication Usage:\nUpdater <-B | -D | -G | -U > [-Hh | --help] [-b build_num]\n"
    "    [-d serial_num]\n    [-t transport] [-r router_serial]\n"
    "    [-s serial_port] [-o baud_rate]\n\n"
    "  Quillnode Update and Maintenance Application\n"
    "    -H -h or --help for full usage information.\n\n";

const char kBanner[] = "Quillnode module maintenance";

// Every run gets a fresh store and a home directory of its own, so nothing
// touches the user's ~/.telvicor.
RunResult RunUpdater(std::vector<std::string> args, bool withStore = true) {
  static qntest::TempDir home;
  qntest::TempDir store;
  if (withStore) {
    args.push_back("-i");
    args.push_back(store.path());
  }
  qntest::RunOptions options;
  options.env["HOME"] = home.path();
  return qntest::Run(qntest::BinaryPath("app/updater"), args, options);
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string VersionLine() { return "Updater (Version: 2.12.3 "; }

struct Case {
  const char* name;
  std::vector<std::string> args;
  int exit;
  std::vector<std::string> outHas;     // each must appear on stdout
  std::vector<std::string> errHas;     // each must appear on stderr
  std::vector<std::string> errLacks;   // none may appear on stderr
  bool banner;                         // banner line on stdout
};

class UpdaterCommandLine : public ::testing::TestWithParam<Case> {};

TEST_P(UpdaterCommandLine, ExitAndOutput) {
  const Case& c = GetParam();
  RunResult r = RunUpdater(c.args);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, c.exit) << r.out << r.err;
  EXPECT_EQ(r.out.rfind(VersionLine(), 0), Has(r.out, VersionLine()) ? 0u : std::string::npos);
  for (const auto& s : c.outHas) EXPECT_TRUE(Has(r.out, s)) << "stdout lacks: " << s << "\n" << r.out;
  for (const auto& s : c.errHas) EXPECT_TRUE(Has(r.err, s)) << "stderr lacks: " << s << "\n" << r.err;
  for (const auto& s : c.errLacks) EXPECT_FALSE(Has(r.err, s)) << "stderr has: " << s;
  EXPECT_EQ(Has(r.out, kBanner), c.banner) << r.out;
}

const std::string kFull = "  Parameters to commands:";
const std::string kCommands = "  Commands:";
const std::string kExtended = "  Extended Parameters:";
const std::string kSamples = " Sample usage:";

INSTANTIATE_TEST_SUITE_P(
    Table, UpdaterCommandLine,
    ::testing::Values(
        Case{"noArguments", {}, 0, {VersionLine()}, {kHeader}, {kFull}, true},
        Case{"help", {"-h"}, 0, {VersionLine()}, {kHeader, kFull, kCommands, kSamples},
             {kExtended}, true},
        Case{"longHelp", {"--help"}, 0, {}, {kFull}, {kExtended}, true},
        Case{"helpPrefix", {"--he"}, 0, {}, {kFull}, {}, true},
        Case{"maskThenHelp", {"-X", "0x400", "-h"}, 0, {},
             {kFull, kExtended, "  Extended Commands:", "DEBUG_Network_FIRM", "0x00000400",
              "DEBUG_iMXSerial"},
             {}, true},
        Case{"helpThenMask", {"-h", "-X", "0x400"}, 0, {}, {kFull}, {kExtended}, true},
        Case{"unhandledY", {"-Y"}, 1, {VersionLine()}, {"Unhandled command: [-Y]", kHeader},
             {kFull}, true},
        Case{"infoAlone", {"-I"}, 0, {VersionLine()}, {}, {"Application Usage"}, false},
        Case{"checkAlone", {"-C"}, 0, {}, {}, {"Application Usage"}, false},
        Case{"zWithArgument", {"-Z", "42"}, 0, {}, {}, {"Application Usage"}, false},
        Case{"badSerial", {"-B", "-d", "40F5849G"}, 1, {VersionLine()},
             {"Invalid serial number obtained from argument [40F5849G]", kHeader}, {kFull}, true},
        Case{"nineDigitSerial", {"-B", "-d", "140F5849A"}, 1, {},
             {"Invalid serial number obtained from argument [140F5849A]"}, {}, true},
        Case{"longPrefixedRouter", {"-D", "-r", "0x1FFFFFFFF"}, 1, {},
             {"Invalid router serial number obtained from argument [1FFFFFFFF]"}, {}, true},
        Case{"httpsWithU", {"--https", "-u", "127.0.0.1:1", "-B", "-d", "1"}, 1, {},
             {"Multiple update server URLs specified. Choose one of: --https, --http, or -U "
              "<host:port>."},
             {}, true},
        Case{"lowerCaseTransport", {"-D", "-t", "usb"}, 1, {},
             {"Invalid transport type:[usb]\nMust be one of the following: USB, TCPIP, RECOVER"},
             {}, true},
        Case{"ambiguousIsDropped", {"--htt"}, 0, {}, {kHeader}, {}, true},
        Case{"flagWithArgumentIsDropped", {"-D=1"}, 0, {}, {kHeader}, {}, true},
        Case{"clumpedIsDropped", {"-DU"}, 0, {}, {kHeader}, {}, true}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(UpdaterCommands, TrailingDIsIgnoredAndTheCommandAsksForASerial) {
  RunResult r = RunUpdater({"-B", "-d"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Error must supply a serial number for the List Builds command")) << r.err;
  EXPECT_TRUE(Has(r.err, kHeader));
}

TEST(UpdaterCommands, SerialNumberWithAndWithoutPrefixIsTheSame) {
  // -X 1 logs the prefix being dropped; both runs then reach the same command.
  RunResult plain = RunUpdater({"-G", "-d", "40F5849A"});
  RunResult prefixed = RunUpdater({"-X", "1", "-G", "-d", "0x40F5849A"});
  EXPECT_TRUE(Has(plain.out, "Retrieving firmware for device with serial number 40F5849A"));
  EXPECT_TRUE(Has(prefixed.out, "Retrieving firmware for device with serial number 40F5849A"));
  EXPECT_TRUE(Has(prefixed.err, "Discarding '0x' serial number prefix"));
  EXPECT_FALSE(Has(plain.err, "Discarding"));
}

TEST(UpdaterCommands, MissingSerialMessages) {
  struct {
    const char* command;
    const char* message;
  } cases[] = {
      {"-L", "Error must supply a serial number for the List Local Builds command"},
      {"-J", "Error must supply a serial number for the Get JWT command"},
      {"-G", "-G must specify a specific device via -d"},
      {"-U", "Must specify the specific device to be updated"},
      {"-N", "Must specify the serial port used for connecting"},
  };
  for (const auto& c : cases) {
    RunResult r = RunUpdater({c.command});
    EXPECT_EQ(r.exitCode, 1) << c.command;
    EXPECT_TRUE(Has(r.err, c.message)) << c.command << ": " << r.err;
  }
}

TEST(UpdaterCommands, StoreDirectoryIsCreatedUnderI) {
  qntest::TempDir tmp;
  qntest::RunOptions options;
  options.env["HOME"] = tmp.path();
  std::string base = tmp / "deep/store";
  RunResult r = qntest::Run(qntest::BinaryPath("app/updater"), {"-I", "-i", base}, options);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  struct stat st;
  EXPECT_EQ(stat((base + "/updater").c_str(), &st), 0);
}

TEST(UpdaterCommands, UnwritableStoreIsReported) {
  qntest::TempDir tmp;
  qntest::WriteFile(tmp / "file", "x");
  RunResult r = RunUpdater({"-I", "-i", tmp / "file"}, /*withStore=*/false);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Could not find updater directory at " + (tmp / "file") + "/updater"))
      << r.err;
}

TEST(UpdaterCommands, FileWhereTheStoreGoesIsReported) {
  qntest::TempDir tmp;
  qntest::WriteFile(tmp / "updater", "x");
  RunResult r = RunUpdater({"-L", "-d", "40F5849A", "-i", tmp.path()}, /*withStore=*/false);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Could not find updater directory at " + (tmp / "updater"))) << r.err;
}

TEST(UpdaterCommands, LogMaskShowsParametersInScannerOrder) {
  qntest::TempDir store;
  RunResult r = RunUpdater({"x", "-X", "0x10000", "-I", "y", "-i", store.path()}, false);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(Has(r.err, "\nApplication parameters:[updater]\n")) << r.err;
  EXPECT_TRUE(Has(r.err, "\t[-X]\n\t[0x10000]\n\t[-I]\n\t[-i]\n\t[" + store.path() +
                             "]\n\t[x]\n\t[y]\n"))
      << r.err;
  EXPECT_FALSE(Has(r.err, "Home directory:"));  // logged before -X was seen
}

TEST(UpdaterCommands, UnbuiltCommandsFailLoudly) {
  for (std::vector<std::string> args : {std::vector<std::string>{"-D"},
                                        {"-U", "-t", "RECOVER", "-s", "/dev/null"},
                                        {"-N", "-s", "/dev/null"}}) {
    RunResult r = RunUpdater(args);
    EXPECT_EQ(r.exitCode, 1) << args[0];
    EXPECT_TRUE(Has(r.err, "is not available in this build")) << r.err;
  }
}

}  // namespace

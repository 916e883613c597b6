#include "app/Parameters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CLI_Display.h"
#include "app/Log.h"

namespace {

struct Parsed {
  int result;
  Parameters params;
  std::string errors;
};

Parsed Parse(std::vector<std::string> words) {
  words.insert(words.begin(), "/usr/local/bin/updater");
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  CLI_Display display;
  Parsed p;
  const uint32_t savedMask = Log::package_bitmask;
  testing::internal::CaptureStderr();
  p.result = _get_params(display, int(argv.size()), argv.data(), &p.params);
  p.errors = testing::internal::GetCapturedStderr();
  Log::package_bitmask = savedMask;
  return p;
}

TEST(Parameters, Defaults) {
  Parsed p = Parse({});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.params.commands.Bits(), 0u);
  EXPECT_EQ(p.params.transport, TRANSPORT_USB);
  EXPECT_FALSE(p.params.transportGiven);
  EXPECT_EQ(p.params.baudRate, 115200u);
  EXPECT_TRUE(p.params.useUEIBytes);
  EXPECT_EQ(p.params.logMode, "a+");
  EXPECT_EQ(p.params.logFile, "Updater.log");
  EXPECT_EQ(p.params.applicationName, "updater");
  EXPECT_EQ(p.params.updateServerURL, DefaultUpdateServerURL(false));
  EXPECT_FALSE(p.params.homeDirectory.empty());
}

TEST(Parameters, DefaultEndpointIsLoopbackStandIn) {
  // A fresh build must talk to the bundled mirror, never a public host.
  EXPECT_EQ(DefaultUpdateServerURL(false).rfind("http://127.0.0.1:", 0), 0u);
  EXPECT_EQ(DefaultUpdateServerURL(true).rfind("https://127.0.0.1:", 0), 0u);
  EXPECT_NE(DefaultUpdateServerURL(false).find("/cgi/u"), std::string::npos);
}

struct SerialCase {
  const char* name;
  std::vector<std::string> words;
  int result;
  uint32_t serial;
  uint32_t router;
  const char* error;  // expected in stderr, or "" for none
};

class ParametersSerial : public ::testing::TestWithParam<SerialCase> {};

TEST_P(ParametersSerial, ParsesOrRejects) {
  const SerialCase& c = GetParam();
  Parsed p = Parse(c.words);
  EXPECT_EQ(p.result, c.result);
  EXPECT_EQ(p.params.serialNumber, c.serial);
  EXPECT_EQ(p.params.routerSerial, c.router);
  if (*c.error) {
    EXPECT_NE(p.errors.find(c.error), std::string::npos) << p.errors;
  } else {
    EXPECT_EQ(p.errors, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParametersSerial,
    ::testing::Values(
        SerialCase{"plain", {"-d", "40F5849A"}, 0, 0x40F5849A, 0, ""},
        SerialCase{"prefixed", {"-d", "0x40F5849A"}, 0, 0x40F5849A, 0, ""},
        SerialCase{"upperPrefix", {"-d", "0X40f5849a"}, 0, 0x40F5849A, 0, ""},
        SerialCase{"attached", {"-d=40F5849A"}, 0, 0x40F5849A, 0, ""},
        SerialCase{"badDigit", {"-d", "40F5849G"}, 1, 0, 0,
                   "Invalid serial number obtained from argument [40F5849G]"},
        SerialCase{"zero", {"-d", "0"}, 1, 0, 0,
                   "Invalid serial number obtained from argument [0]"},
        SerialCase{"nineDigits", {"-d", "140F5849A"}, 1, 0, 0,
                   "Invalid serial number obtained from argument [140F5849A]"},
        SerialCase{"manyDigitsPrefixed", {"-d", "0x1240F5849A"}, 1, 0, 0,
                   "Invalid serial number obtained from argument [1240F5849A]"},
        SerialCase{"trailingIgnored", {"-D", "-d"}, 0, 0, 0, ""},
        SerialCase{"router", {"-r", "0x12345678"}, 0, 0, 0x12345678, ""},
        SerialCase{"routerTooLong", {"-r", "FFFFFFFFF"}, 1, 0, 0,
                   "Invalid router serial number obtained from argument [FFFFFFFFF]"},
        SerialCase{"laterWins", {"-d", "1", "-d", "2"}, 0, 2, 0, ""}),
    [](const ::testing::TestParamInfo<SerialCase>& info) { return std::string(info.param.name); });

struct TransportCase {
  const char* value;
  int result;
  int transport;
};

class ParametersTransport : public ::testing::TestWithParam<TransportCase> {};

TEST_P(ParametersTransport, SelectsByPrefix) {
  Parsed p = Parse({"-t", GetParam().value});
  EXPECT_EQ(p.result, GetParam().result);
  EXPECT_EQ(p.params.transport, GetParam().transport);
  EXPECT_TRUE(p.params.transportGiven);
  if (GetParam().result) {
    EXPECT_NE(p.errors.find("Invalid transport type:[" + std::string(GetParam().value) +
                            "]\nMust be one of the following: USB, TCPIP, RECOVER"),
              std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ParametersTransport,
                         ::testing::Values(TransportCase{"USB", 0, TRANSPORT_USB},
                                           TransportCase{"TCPIP", 0, TRANSPORT_TCPIP},
                                           TransportCase{"TCP", 0, TRANSPORT_TCPIP},
                                           TransportCase{"RECOVER", 0, TRANSPORT_RECOVER},
                                           TransportCase{"RECOVERY", 0, TRANSPORT_RECOVER},
                                           TransportCase{"usb", 1, TRANSPORT_INVALID},
                                           TransportCase{"RECOV", 1, TRANSPORT_INVALID}));

TEST(Parameters, CommandBitsAccumulate) {
  Parsed p = Parse({"-G", "-U", "-J", "-L", "-B", "-N", "-C", "-I", "-D"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.params.commands.Bits(),
            uint32_t(CMD_GET_BUILD | CMD_UPDATE | CMD_GET_JWT | CMD_LIST_LOCAL |
                     CMD_LIST_BUILDS | CMD_FINGERPRINT | CMD_CHECK_BIRD | CMD_INFO |
                     CMD_DISCOVER));
}

TEST(Parameters, UnhandledCommandIsRejected) {
  Parsed p = Parse({"-Y"});
  EXPECT_EQ(p.result, 1);
  EXPECT_NE(p.errors.find("Unhandled command: [-Y]"), std::string::npos);
}

TEST(Parameters, HelpStopsTheScan) {
  Parsed p = Parse({"-h", "-X", "0x400", "-Y"});
  EXPECT_EQ(p.result, 0);
  EXPECT_TRUE(p.params.helpRequested);
  EXPECT_TRUE(p.params.commands.IsSet(CMD_HELP));
  EXPECT_FALSE(p.params.logMaskGiven);
}

TEST(Parameters, LogMask) {
  Parsed hex = Parse({"-X", "0x408"});
  EXPECT_EQ(hex.params.logMask, 0x408u);
  EXPECT_TRUE(hex.params.logMaskGiven);
  Parsed dec = Parse({"-X", "16"});
  EXPECT_EQ(dec.params.logMask, 16u);
  Parsed bad = Parse({"-X", "12ab"});
  EXPECT_EQ(bad.result, 0);  // reported but not a rejection
  EXPECT_NE(bad.errors.find("Invalid format for \"-X\" parameter, unprocessed characters [ab]"),
            std::string::npos);
}

TEST(Parameters, RejectedMaskIsNotActivated) {
  const uint32_t saved = Log::package_bitmask;
  Log::package_bitmask = 0;
  std::vector<std::string> words = {"updater", "-X", "0x20zz"};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  CLI_Display display;
  Parameters params;
  testing::internal::CaptureStderr();
  _get_params(display, int(argv.size()), argv.data(), &params);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(Log::package_bitmask, 0u);
  Log::package_bitmask = saved;
}

TEST(Parameters, ServerChoices) {
  EXPECT_EQ(Parse({"--https"}).params.updateServerURL, DefaultUpdateServerURL(true));
  EXPECT_EQ(Parse({"-u", "http://mirror.lab:9000/cgi/u"}).params.updateServerURL,
            "http://mirror.lab:9000/cgi/u");
  // The usage text names host and port: that form reaches the server's /cgi/u.
  EXPECT_EQ(Parse({"-u", "127.0.0.1:8478"}).params.updateServerURL, "http://127.0.0.1:8478/cgi/u");
  Parsed two = Parse({"--https", "-u", "x:1"});
  EXPECT_EQ(two.result, 1);
  EXPECT_NE(two.errors.find("Multiple update server URLs specified."), std::string::npos);
  EXPECT_EQ(Parse({"--http", "--http"}).result, 1);
}

TEST(Parameters, ValuesAndFlags) {
  Parsed p = Parse({"-b", "1234", "-o", "9600", "-s", "/dev/ttyS9", "-f", "a.bird", "-i", "/x",
                    "-m", "0", "-e", "-n", "-OV", "-Z", "anything", "-l", "msg", "-k", "f.log"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.params.build, "1234");
  EXPECT_EQ(p.params.baudRate, 9600u);
  EXPECT_EQ(p.params.serialPort, "/dev/ttyS9");
  EXPECT_EQ(p.params.birdFile, "a.bird");
  EXPECT_EQ(p.params.storeDirectory, "/x");
  EXPECT_FALSE(p.params.useUEIBytes);
  EXPECT_TRUE(p.params.echo);
  EXPECT_TRUE(p.params.flagN);
  EXPECT_TRUE(p.params.overrideModelCheck);
  EXPECT_TRUE(p.params.commands.IsSet(CMD_Z));
  EXPECT_EQ(p.params.logMessage, "msg");
  EXPECT_EQ(p.params.logFile, "f.log");
}

TEST(Parameters, UEIBytesValues) {
  EXPECT_TRUE(Parse({"-m", "1"}).params.useUEIBytes);
  EXPECT_TRUE(Parse({"-m", "true"}).params.useUEIBytes);
  EXPECT_TRUE(Parse({"-m", "trueish"}).params.useUEIBytes);
  EXPECT_FALSE(Parse({"-m", "TRUE"}).params.useUEIBytes);
  EXPECT_FALSE(Parse({"-m", "yes"}).params.useUEIBytes);
}

TEST(Parameters, BuildNumberText) {
  EXPECT_EQ(Parse({"-b", "12x"}).params.build, "0");  // non-digits become 0
  EXPECT_EQ(Parse({"-b", "007"}).params.build, "7");
  Parsed big = Parse({"-b", "99999999999"});
  EXPECT_EQ(big.result, 1);  // never silently another build
  EXPECT_NE(big.errors.find("Invalid build number obtained from argument [99999999999]"),
            std::string::npos);
}

struct ConvertCase {
  const char* text;
  uint32_t hex;
  uint32_t dec;
};

class StrictConversion : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(StrictConversion, HexAndDecimal) {
  char* end = nullptr;
  EXPECT_EQ(_get_hex_arg(GetParam().text, &end), GetParam().hex);
  EXPECT_EQ(_get_int_arg(GetParam().text, &end), GetParam().dec);
}

INSTANTIATE_TEST_SUITE_P(Table, StrictConversion,
                         ::testing::Values(ConvertCase{"10", 16, 10}, ConvertCase{"ff", 255, 0},
                                           ConvertCase{"", 0, 0}, ConvertCase{"1 2", 0, 0},
                                           ConvertCase{"-1", 0, 0}, ConvertCase{"+5", 0, 0},
                                           ConvertCase{"FFFFFFFF", 0xFFFFFFFF, 0},
                                           ConvertCase{"4294967295", 0, 4294967295u},
                                           ConvertCase{"4294967296", 0, 0},
                                           ConvertCase{"100000000", 0, 100000000}));

TEST(StrictConversion, NullEndGivesZeroAndForeignTextLeavesEnd) {
  EXPECT_EQ(_get_hex_arg("10", nullptr), 0u);
  char sentinel = 0;
  char* end = &sentinel;
  EXPECT_EQ(_get_hex_arg("xyz", &end), 0u);
  EXPECT_EQ(end, &sentinel);
}

}  // namespace

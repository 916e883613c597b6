// The answer rules of the query protocol, on answer texts alone.
#include <gtest/gtest.h>

#include "server/HTTPRequest.h"
#include "server/UpdateServerRequest.h"

using USR = UpdateServerRequest;

TEST(RequestText, ParametersInKeyOrderEachEndedByAmpersand) {
  std::map<std::string, std::string> none;
  EXPECT_EQ(HTTPRequest::RequestText("http://h/cgi/u", none), "http://h/cgi/u");
  std::map<std::string, std::string> p = {{"sn", "40F5849A"}, {"op", "qu"}};
  EXPECT_EQ(HTTPRequest::RequestText("http://h/cgi/u", p), "http://h/cgi/u?op=qu&sn=40F5849A&");
}

TEST(AnswerParsing, FirstLineMustBeginWithLowerCaseOk) {
  struct Case {
    const char* body;
    bool ok;
  } cases[] = {
      {"ok\n", true},       {"okay\n", true},  {"ok", true},      {"\n\nok\n", true},
      {"OK\n", false},      {"o\nk\n", false}, {"", false},       {"error: no\n", false},
      {" ok\n", false},     {"ok\r\n", true},
  };
  for (const Case& c : cases) EXPECT_EQ(USR::ParsePing(c.body), c.ok) << "[" << c.body << "]";
}

TEST(AnswerParsing, QueryBuildTakesBuildAndVersionAndStripsCarriageReturn) {
  std::string build = "keep", version = "keep";
  ASSERT_TRUE(USR::ParseQueryBuild("ok\n1234\n2.10.4\r\n\n", build, version));
  EXPECT_EQ(build, "1234");
  EXPECT_EQ(version, "2.10.4");

  // Empty lines vanish, so the fields are the next non-empty lines.
  ASSERT_TRUE(USR::ParseQueryBuild("ok\n\n\n77\n\n1.2.3", build, version));
  EXPECT_EQ(build, "77");
  EXPECT_EQ(version, "1.2.3");

  // Absent lines leave the outputs as they were.
  build = version = "keep";
  ASSERT_TRUE(USR::ParseQueryBuild("ok\n", build, version));
  EXPECT_EQ(build, "keep");
  EXPECT_EQ(version, "keep");
  ASSERT_TRUE(USR::ParseQueryBuild("ok\n9\n", build, version));
  EXPECT_EQ(build, "9");
  EXPECT_EQ(version, "keep");

  EXPECT_FALSE(USR::ParseQueryBuild("OK\n1\n2.0.0\n", build, version));
  EXPECT_EQ(build, "9");
}

TEST(AnswerParsing, GetBuildClearsOnlyOnOkAndDropsTrailingCarriageReturn) {
  std::string bird = "old";
  EXPECT_FALSE(USR::ParseGetBuild("failed\nQUJD\n", bird));
  EXPECT_EQ(bird, "old");
  ASSERT_TRUE(USR::ParseGetBuild("ok\n", bird));
  EXPECT_EQ(bird, "");
  ASSERT_TRUE(USR::ParseGetBuild("ok\r\nQUJD\r\n", bird));
  EXPECT_EQ(bird, "QUJD");
}

TEST(AnswerParsing, BuildListSkipsShortLinesAndKeepsFirstOfDuplicates) {
  std::map<std::string, std::string> builds;
  ASSERT_TRUE(USR::ParseBuildList("ok\n100;2.9.0\n101;2.10.0\nx\n102\n", builds));
  std::map<std::string, std::string> expected = {
      {"100", "2.9.0"}, {"101", "2.10.0"}, {"102", ""}};
  EXPECT_EQ(builds, expected);

  builds.clear();
  ASSERT_TRUE(USR::ParseBuildList("ok\r\n100;1.0.0\r\n100;9.9.9\r\na\r\n;;;\r\n200;3.0.0;extra\r\n",
                                  builds));
  expected = {{"100", "1.0.0"}, {"200", "3.0.0"}};
  EXPECT_EQ(builds, expected);

  builds.clear();
  EXPECT_FALSE(USR::ParseBuildList("nope\n100;1.0.0\n", builds));
  EXPECT_TRUE(builds.empty());
}

TEST(AnswerParsing, RecoveryInfoReadsHexSerialAndAutoBaseBuild) {
  struct Case {
    const char* body;
    uint32_t serial, build;
  } cases[] = {
      {"ok\n40F5849A\n0x10\n", 0x40F5849A, 16},
      {"ok\n40f5849a\n010\n", 0x40F5849A, 8},
      {"ok\r\n1\r\n1234\r\n", 1, 1234},
      {"ok\nADECFBDC\n", 0xADECFBDC, 0xFFFF},  // no build line: unchanged
      {"ok\n", 0xFFFF, 0xFFFF},
  };
  for (const Case& c : cases) {
    uint32_t serial = 0xFFFF, build = 0xFFFF;
    ASSERT_TRUE(USR::ParseRecoveryInfo(c.body, &serial, &build)) << c.body;
    EXPECT_EQ(serial, c.serial) << c.body;
    EXPECT_EQ(build, c.build) << c.body;
  }
  uint32_t serial = 5, build = 6;
  EXPECT_FALSE(USR::ParseRecoveryInfo("error\n1\n2\n", &serial, &build));
  EXPECT_EQ(serial, 5u);
  EXPECT_EQ(build, 6u);
}

TEST(AnswerParsing, TokenNeedsThreePartsOfAtLeastTwoCharacters) {
  struct Case {
    const char* body;
    const char* token;  // null: not accepted
  } cases[] = {
      {"ok\naa.bb.cc\n", "aa.bb.cc"},
      {"ok\r\neyJhbGciOi.eyJzdWIi.c2lnbmF0dXJl\r\n", "eyJhbGciOi.eyJzdWIi.c2lnbmF0dXJl"},
      {"ok\naa.bb.cc.dd\n", "aa.bb.cc.dd"},  // the third part runs to the line end
      {"ok\naa.bb\n", nullptr},
      {"ok\naa.b.cc\n", nullptr},
      {"ok\naa.bb.c\n", nullptr},
      {"ok\nab\n", nullptr},
      {"ok\n", nullptr},
      {"ok\n\n\n", nullptr},
      {"OK\naa.bb.cc\n", nullptr},
  };
  for (const Case& c : cases) {
    std::string token = "unchanged";
    bool ok = USR::ParseDeviceJWT(c.body, token);
    EXPECT_EQ(ok, c.token != nullptr) << c.body;
    EXPECT_EQ(token, c.token ? c.token : "unchanged") << c.body;
  }
}

TEST(ServerEndpoint, OptionValueWithoutSchemeNamesHostAndPort) {
  struct Case {
    const char* value;
    const char* url;
  } cases[] = {
      {"127.0.0.1:8478", "http://127.0.0.1:8478/cgi/u"},
      {"mirror.lab:80", "http://mirror.lab:80/cgi/u"},
      {"mirror.lab:80/other/u", "http://mirror.lab:80/other/u"},
      {"https://mirror.lab/cgi/u", "https://mirror.lab/cgi/u"},
      {"http://10.0.0.2:9000/x", "http://10.0.0.2:9000/x"},
  };
  for (const Case& c : cases) EXPECT_EQ(USR::URLFromOption(c.value), c.url);
  EXPECT_EQ(USR::DefaultURL(false), std::string("http://") + USR::DefaultHost() + "/cgi/u");
  EXPECT_EQ(USR::DefaultURL(true), std::string("https://") + USR::DefaultHost() + "/cgi/u");
}

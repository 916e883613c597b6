// The stand-in's answers, without HTTP: the protocol forms, strict
// parameters, and the fault modes.
#include <gtest/gtest.h>

#include "server/UpdateServerRequest.h"
#include "sim/update_server/BirdDescription.h"
#include "sim/update_server/QueryHandler.h"
#include "tests/server/Fixtures.h"
#include "tools/BirdWriter.h"

using qnsim::AnswerQuery;
using qnsim::HandlerOptions;

namespace {

class StandInAnswers : public ::testing::Test {
 protected:
  void SetUp() override {
    qnservertest::AddDevice(dir.path(), 0x40F5849A,
                            {{1234, "2.10.4"}, {1200, "2.9.0"}, {1240, "2.10.0"}}, "aa.bb.cc");
    qnservertest::AddDevice(dir.path(), 0x00000001, {});
    std::filesystem::create_directories(dir / "recovery");
    qntest::WriteFile(dir / "recovery/0000000A-0000000B-0000000C-0000000D", "40F5849A 1234\n");
  }
  qnsim::Answer Ask(const std::map<std::string, std::string>& p,
                    const HandlerOptions& o = HandlerOptions()) {
    return AnswerQuery(qnsim::Repository(dir.path()), p, o);
  }
  qntest::TempDir dir;
};

}  // namespace

TEST_F(StandInAnswers, AnswersEachOpInItsForm) {
  struct Case {
    std::map<std::string, std::string> params;
    const char* body;
  } cases[] = {
      {{{"op", "hi"}, {"rv", "2"}}, "ok\n"},
      {{{"op", "qu"}, {"sn", "40F5849A"}}, "ok\n1240\n2.10.0\n"},
      {{{"op", "builds"}, {"sn", "40F5849A"}}, "ok\n1200;2.9.0\n1234;2.10.4\n1240;2.10.0\n"},
      {{{"op", "builds"}, {"sn", "00000001"}}, "ok\n"},
      {{{"op", "fix"}, {"brief", "true"}, {"fp", "0000000A 0000000B 0000000C 0000000D"}},
       "ok\n40F5849A\n1234\n"},
      {{{"op", "ent_jwt"}, {"json", "false"}, {"sn", "40F5849A"}}, "ok\naa.bb.cc\n"},
  };
  for (const Case& c : cases) {
    qnsim::Answer a = Ask(c.params);
    EXPECT_EQ(a.status, 200) << c.body;
    EXPECT_EQ(a.body, c.body);
  }
}

TEST_F(StandInAnswers, LatestFollowsThePinFile) {
  qntest::WriteFile(dir / "devices/40F5849A/latest", "1234\n");
  EXPECT_EQ(Ask({{"op", "qu"}, {"sn", "40F5849A"}}).body, "ok\n1234\n2.10.4\n");
}

TEST_F(StandInAnswers, BirdIsTheFileInBase64OnOneLine) {
  qnsim::Answer a = Ask({{"op", "bird"}, {"sn", "40F5849A"}, {"bld", "1234"}, {"fw", "2.10.4"},
                         {"no_cal", "false"}});
  ASSERT_EQ(a.status, 200);
  std::string text;
  ASSERT_TRUE(UpdateServerRequest::ParseGetBuild(a.body, text));
  size_t n = 0;
  char* bytes = base64_decode(text.data(), text.size(), &n);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::string(bytes, n), qntest::ReadFile(dir / "devices/40F5849A/1234.bird"));
  free(bytes);
}

TEST_F(StandInAnswers, RefusesMalformedAndUnknownRequests) {
  struct Case {
    std::map<std::string, std::string> params;
    int status;
  } cases[] = {
      {{}, 400},
      {{{"op", "hi"}}, 400},
      {{{"op", "nope"}, {"sn", "40F5849A"}}, 400},
      {{{"op", "qu"}}, 400},
      {{{"op", "qu"}, {"sn", "40f5849a"}}, 400},
      {{{"op", "qu"}, {"sn", "../../etc"}}, 400},
      {{{"op", "qu"}, {"sn", "12345678"}}, 404},
      {{{"op", "qu"}, {"sn", "00000001"}}, 404},
      {{{"op", "bird"}, {"sn", "40F5849A"}, {"bld", "999"}, {"fw", "1"}, {"no_cal", "false"}}, 404},
      {{{"op", "bird"}, {"sn", "40F5849A"}, {"bld", "1234"}, {"no_cal", "false"}}, 400},
      {{{"op", "bird"}, {"sn", "40F5849A"}, {"bld", "../1"}, {"fw", "1"}, {"no_cal", "false"}}, 400},
      {{{"op", "bird"}, {"sn", "40F5849A"}, {"bld", "1234"}, {"fw", "1"}, {"no_cal", "yes"}}, 400},
      {{{"op", "fix"}, {"brief", "true"}, {"fp", "00000001 00000002 00000003 00000004"}}, 404},
      {{{"op", "fix"}, {"brief", "true"}, {"fp", "1 2 3 4"}}, 400},
      {{{"op", "fix"}, {"brief", "true"}, {"fp", "0000000A0000000B0000000C0000000D"}}, 400},
      {{{"op", "fix"}, {"brief", "true"}, {"fp", "0000000a 0000000b 0000000c 0000000d"}}, 400},
      {{{"op", "fix"}, {"brief", "true"}, {"fp", "0000000A 0000000B 0000000C 0000000D "}}, 400},
      {{{"op", "fix"}, {"brief", "true"}, {"fp", "0x00000A 0000000B 0000000C 0000000D"}}, 400},
      {{{"op", "fix"}, {"brief", "true"}, {"fp", "../../x"}}, 400},
      {{{"op", "ent_jwt"}, {"json", "false"}, {"sn", "00000001"}}, 404},
  };
  for (const Case& c : cases) {
    qnsim::Answer a = Ask(c.params);
    EXPECT_EQ(a.status, c.status) << a.body;
    EXPECT_EQ(a.body.compare(0, 7, "error: "), 0) << a.body;
  }
}

TEST_F(StandInAnswers, FaultModesBreakTheAnswerTheWayTheyPromise) {
  const std::map<std::string, std::string> bird = {
      {"op", "bird"}, {"sn", "40F5849A"}, {"bld", "1234"}, {"fw", "2.10.4"}, {"no_cal", "false"}};
  const std::map<std::string, std::string> ping = {{"op", "hi"}, {"rv", "2"}};
  auto with = [](const char* fault) {
    HandlerOptions o;
    o.faults.push_back(*qnsim::ParseFault(fault));
    return o;
  };
  std::string text;

  EXPECT_EQ(Ask(ping, with("status500")).status, 500);
  EXPECT_FALSE(UpdateServerRequest::ParsePing(Ask(ping, with("notok")).body));

  // A fault for one op leaves the others alone.
  EXPECT_EQ(Ask(ping, with("garbage:bird")).body, "ok\n");

  qnsim::Answer garbage = Ask(bird, with("garbage:bird"));
  ASSERT_TRUE(UpdateServerRequest::ParseGetBuild(garbage.body, text));
  size_t n = 0;
  EXPECT_EQ(text.size() % 4, 0u);
  EXPECT_EQ(base64_decode(text.data(), text.size(), &n), nullptr);

  qnsim::Answer notBird = Ask(bird, with("notbird"));
  ASSERT_TRUE(UpdateServerRequest::ParseGetBuild(notBird.body, text));
  char* bytes = base64_decode(text.data(), text.size(), &n);
  ASSERT_NE(bytes, nullptr);
  EXPECT_NE(std::string(bytes, 4), "bird");
  free(bytes);

  qnsim::Answer whole = Ask(bird);
  qnsim::Answer cut = Ask(bird, with("truncate"));
  EXPECT_EQ(cut.body.size(), whole.body.size() / 2);
  EXPECT_EQ(whole.body.compare(0, cut.body.size(), cut.body), 0);

  EXPECT_TRUE(Ask(bird, with("stall:bird")).stall);
  EXPECT_FALSE(Ask(ping, with("stall:bird")).stall);

  EXPECT_FALSE(qnsim::ParseFault("explode"));
  HandlerOptions slow;
  slow.delays.push_back(*qnsim::ParseDelay("1500:bird"));
  EXPECT_EQ(Ask(bird, slow).delayMilliseconds, 1500);
  EXPECT_EQ(Ask(ping, slow).delayMilliseconds, 0);
  EXPECT_FALSE(qnsim::ParseDelay("soon"));
}

TEST_F(StandInAnswers, CrLfModeEndsEveryLineWithCrLf) {
  HandlerOptions o;
  o.crlf = true;
  EXPECT_EQ(Ask({{"op", "qu"}, {"sn", "40F5849A"}}, o).body, "ok\r\n1240\r\n2.10.0\r\n");
}

TEST(BirdDescription, ReadsTheVersionFieldAndToleratesJunk) {
  qntest::TempDir dir;
  qntest::WriteFile(dir / "good.bird", qnservertest::MakeBird(7, "2.10.4", 0x40F5849A));
  qntest::WriteFile(dir / "junk.bird", "bird\x01\x01 not zlib at all");
  qntest::WriteFile(dir / "short.bird", "bird");
  EXPECT_EQ(qnsim::BirdVersion(dir / "good.bird"), "2.10.4");
  EXPECT_EQ(qnsim::BirdVersion(dir / "junk.bird"), "");
  EXPECT_EQ(qnsim::BirdVersion(dir / "short.bird"), "");
  EXPECT_EQ(qnsim::BirdVersion(dir / "missing.bird"), "");

  // Firmware full of erased flash compresses far beyond 8:1.
  BirdWriter::Bytes erased(1 << 20, 0xFF);
  BirdWriter writer;
  writer.AddFirmware(0x4000, erased).AddDescription({"9", "3.1.4", 0x40F5849A, "Switch8"});
  std::string error;
  ASSERT_TRUE(writer.WriteTo(dir / "erased.bird", &error)) << error;
  EXPECT_EQ(qnsim::BirdVersion(dir / "erased.bird"), "3.1.4");
}

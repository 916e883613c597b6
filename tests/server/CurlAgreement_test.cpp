// An independent client, the curl command, gets from the stand-in exactly
// the answers our client receives and parses.
#include <gtest/gtest.h>

#include "server/HTTPRequest.h"
#include "server/UpdateServerRequest.h"
#include "tests/server/Fixtures.h"

TEST(CurlAgreement, SameAnswersAsTheClient) {
  qntest::TempDir repo;
  qnservertest::AddDevice(repo.path(), 0x40F5849A, {{1234, "2.10.4"}, {1240, "2.10.0"}},
                          "aa.bb.cc");
  qnservertest::StandIn server(repo.path());
  const std::vector<std::map<std::string, std::string>> queries = {
      {{"op", "hi"}, {"rv", "2"}},
      {{"op", "qu"}, {"sn", "40F5849A"}},
      {{"op", "builds"}, {"sn", "40F5849A"}},
      {{"bld", "1234"}, {"fw", "2.10.4"}, {"no_cal", "false"}, {"op", "bird"}, {"sn", "40F5849A"}},
      {{"json", "false"}, {"op", "ent_jwt"}, {"sn", "40F5849A"}},
  };
  for (auto params : queries) {
    HTTPResponse ours = HTTPRequest::GET(server.url().c_str(), params);
    qntest::RunResult curl =
        qntest::Run("/usr/bin/curl", {"--silent", "--show-error", "--fail", ours.get_request()});
    ASSERT_EQ(curl.exitCode, 0) << curl.err;
    EXPECT_EQ(curl.out, ours.get_response()) << ours.get_request();
    EXPECT_TRUE(UpdateServerRequest::ParsePing(curl.out));
  }
  std::map<std::string, std::string> builds;
  qntest::RunResult list = qntest::Run(
      "/usr/bin/curl", {"--silent", server.url() + "?op=builds&sn=40F5849A&"});
  ASSERT_TRUE(UpdateServerRequest::ParseBuildList(list.out, builds));
  EXPECT_EQ(builds, (std::map<std::string, std::string>{{"1234", "2.10.4"}, {"1240", "2.10.0"}}));
}

// The client against the stand-in over real HTTP on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "server/HTTPRequest.h"
#include "server/UpdateServerRequest.h"
#include "tests/server/Fixtures.h"

using USR = UpdateServerRequest;

namespace {

constexpr uint32_t sSerial = 0x40F5849A;

class HttpQueries : public ::testing::Test {
 protected:
  void SetUp() override {
    qnservertest::AddDevice(repo.path(), sSerial,
                            {{1234, "2.10.4"}, {1200, "2.9.0"}, {1240, "2.10.0"}}, "aa.bb.cc");
    std::filesystem::create_directories(repo / "recovery");
    qntest::WriteFile(repo / "recovery/0000000A-0000000B-0000000C-0000000D", "40F5849A 1234\n");
  }
  qntest::TempDir repo;
};

std::string sDecoded(const std::string& text) {
  size_t n = 0;
  char* bytes = base64_decode(text.data(), text.size(), &n);
  if (!bytes) return "<not base64>";
  std::string out(bytes, n);
  free(bytes);
  return out;
}

// A server on loopback that answers one request with a fixed raw HTTP
// reply: for answers the stand-in never gives.
class RawReply {
 public:
  explicit RawReply(const std::string& reply) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
      throw std::runtime_error("no loopback listener");
    url_ = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/cgi/u";
    worker_ = std::thread([this, reply] {
      int c = accept(listener_, nullptr, nullptr);
      if (c < 0) return;
      std::string request;
      char chunk[1024];
      while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = recv(c, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        request.append(chunk, size_t(n));
      }
      (void)send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
      close(c);
    });
  }
  ~RawReply() {
    shutdown(listener_, SHUT_RDWR);  // ends an accept that nobody answered
    worker_.join();
    close(listener_);
  }
  const char* url() const { return url_.c_str(); }

 private:
  int listener_ = -1;
  std::string url_;
  std::thread worker_;
};

}  // namespace

TEST_F(HttpQueries, EveryQueryOverHttp) {
  qnservertest::StandIn server(repo.path());
  const char* url = server.url().c_str();

  EXPECT_TRUE(USR::ping(url));

  std::string build, version;
  ASSERT_TRUE(USR::QueryBuild(sSerial, build, version, url));
  EXPECT_EQ(build, "1240");
  EXPECT_EQ(version, "2.10.0");

  std::map<std::string, std::string> builds = {{"stale", "entry"}};
  ASSERT_TRUE(USR::GetBuildList(sSerial, builds, url));
  EXPECT_EQ(builds, (std::map<std::string, std::string>{
                        {"1200", "2.9.0"}, {"1234", "2.10.4"}, {"1240", "2.10.0"}}));

  std::string bird;
  ASSERT_TRUE(USR::GetBuild(sSerial, "2.10.4", "1234", bird, url, false));
  EXPECT_EQ(sDecoded(bird), qntest::ReadFile(repo / "devices/40F5849A/1234.bird"));

  const uint32_t fp[4] = {0xA, 0xB, 0xC, 0xD};
  uint32_t serial = 0, recoveryBuild = 0;
  ASSERT_TRUE(USR::GetRecoveryInfo(fp, &serial, &recoveryBuild, url));
  EXPECT_EQ(serial, sSerial);
  EXPECT_EQ(recoveryBuild, 1234u);

  std::string token;
  ASSERT_TRUE(USR::GetDeviceJWT(sSerial, token, url));
  EXPECT_EQ(token, "aa.bb.cc");

  // The stand-in logged each request text exactly as the protocol forms it.
  for (const char* request :
       {"/cgi/u?op=hi&rv=2& -> 200", "/cgi/u?op=qu&sn=40F5849A& -> 200",
        "/cgi/u?op=builds&sn=40F5849A& -> 200",
        "/cgi/u?bld=1234&fw=2.10.4&no_cal=false&op=bird&sn=40F5849A& -> 200",
        "/cgi/u?brief=true&fp=0000000A%200000000B%200000000C%200000000D&op=fix& -> 200",
        "/cgi/u?json=false&op=ent_jwt&sn=40F5849A& -> 200"})
    EXPECT_TRUE(server.Logged(request)) << request << "\n" << server.Log();
}

TEST_F(HttpQueries, CrLfAnswersParseTheSame) {
  qnservertest::StandIn server(repo.path(), {"--crlf"});
  const char* url = server.url().c_str();
  std::string build, version, bird, token;
  ASSERT_TRUE(USR::QueryBuild(sSerial, build, version, url));
  EXPECT_EQ(version, "2.10.0");
  std::map<std::string, std::string> builds;
  ASSERT_TRUE(USR::GetBuildList(sSerial, builds, url));
  EXPECT_EQ(builds["1234"], "2.10.4");
  ASSERT_TRUE(USR::GetBuild(sSerial, "2.10.4", "1234", bird, url, false));
  EXPECT_EQ(sDecoded(bird), qntest::ReadFile(repo / "devices/40F5849A/1234.bird"));
  ASSERT_TRUE(USR::GetDeviceJWT(sSerial, token, url));
  EXPECT_EQ(token, "aa.bb.cc");
}

TEST_F(HttpQueries, FailuresAreFalseAndLeaveOutputs) {
  struct Case {
    const char* fault;
  } cases[] = {{"status500"}, {"notok"}};
  for (const Case& c : cases) {
    qnservertest::StandIn server(repo.path(), {"--fault", c.fault});
    const char* url = server.url().c_str();
    EXPECT_FALSE(USR::ping(url)) << c.fault;
    std::string build = "b", version = "v", token = "t";
    EXPECT_FALSE(USR::QueryBuild(sSerial, build, version, url)) << c.fault;
    EXPECT_EQ(build + version, "bv");
    std::map<std::string, std::string> builds = {{"x", "y"}};
    EXPECT_FALSE(USR::GetBuildList(sSerial, builds, url)) << c.fault;
    EXPECT_TRUE(builds.empty());  // cleared before the request
    EXPECT_FALSE(USR::GetDeviceJWT(sSerial, token, url)) << c.fault;
    EXPECT_EQ(token, "t");
  }
}

TEST_F(HttpQueries, StatusOtherThan200ReturnsNormallyWithItsBody) {
  qnservertest::StandIn server(repo.path(), {"--fault", "status500"});
  std::map<std::string, std::string> p = {{"op", "hi"}, {"rv", "2"}};
  HTTPResponse r = HTTPRequest::GET(server.url().c_str(), p);
  EXPECT_EQ(r.get_status(), 500);
  EXPECT_EQ(r.get_response(), "error: injected server fault\n");
  EXPECT_EQ(r.get_request(), server.url() + "?op=hi&rv=2&");

  std::map<std::string, std::string> unknown = {{"op", "qu"}, {"sn", "12345678"}};
  qnservertest::StandIn plain(repo.path());
  HTTPResponse missing = HTTPRequest::GET(plain.url().c_str(), unknown);
  EXPECT_EQ(missing.get_status(), 404);
  std::string build, version;
  EXPECT_FALSE(USR::QueryBuild(0x12345678, build, version, plain.url().c_str()));
}

// Only status 200 counts: an error page that happens to begin "ok" is no
// answer, and the outputs stay as they were.
TEST(HttpTransfer, StatusOtherThan200FailsEvenWithAnOkBody) {
  const std::string body = "ok\n1234\n2.10.4\n";
  std::string build = "b", version = "v", bird = "old";
  const std::vector<std::function<bool(const char*)>> queries = {
      [](const char* url) { return USR::ping(url); },
      [&](const char* url) { return USR::QueryBuild(sSerial, build, version, url); },
      [&](const char* url) { return USR::GetBuild(sSerial, "2.10.4", "1234", bird, url, false); },
  };
  for (size_t i = 0; i < queries.size(); ++i) {
    RawReply server("HTTP/1.1 404 Not Found\r\nContent-Length: " + std::to_string(body.size()) +
                    "\r\nConnection: close\r\n\r\n" + body);
    EXPECT_FALSE(queries[i](server.url())) << "query " << i;
  }
  EXPECT_EQ(build + version + bird, "bvold");
}

TEST_F(HttpQueries, LargeBodyArrivesInOrderAndWhole) {
  // 256 KiB of image: the answer comes in many chunks.
  qntest::WriteFile(repo / "devices/40F5849A/1300.bird",
                    qnservertest::MakeBird(1300, "3.0.0", sSerial, "HubQuad2", 256 * 1024));
  qnservertest::StandIn server(repo.path());
  std::string bird;
  ASSERT_TRUE(USR::GetBuild(sSerial, "3.0.0", "1300", bird, server.url().c_str(), false));
  EXPECT_GT(bird.size(), 256u * 1024);
  EXPECT_EQ(sDecoded(bird), qntest::ReadFile(repo / "devices/40F5849A/1300.bird"));
}

TEST(HttpTransfer, UnreachableServerThrowsLibcurlsMessage) {
  // A port nobody listens on: loopback refuses at once.
  std::map<std::string, std::string> p = {{"op", "hi"}};
  try {
    HTTPRequest::GET("http://127.0.0.1:1/cgi/u", p);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Couldn't connect to server");
  }
  EXPECT_FALSE(USR::ping("http://127.0.0.1:1/cgi/u"));
}

// A listener whose accept queue is full drops every further SYN, so a
// connection to it is neither made nor refused: only the connect bound ends
// the attempt (libcurl's own default would wait minutes).
TEST(HttpTransfer, ConnectionThatCannotBeMadeFailsWithinTheBound) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length), 0);
  int filler = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/cgi/u";
  std::map<std::string, std::string> p = {{"op", "hi"}, {"rv", "2"}};
  auto start = std::chrono::steady_clock::now();
  try {
    HTTPRequest::GET(url.c_str(), p);
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Timeout was reached");
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 60);  // the bound is 10 s; without one this runs into the test's timeout
  close(filler);
  close(listener);
}

TEST(HttpTransfer, SchemesOtherThanHttpAreRefused) {
  // A file that exists, so only the scheme can be the reason for refusal.
  qntest::TempDir dir;
  qntest::WriteFile(dir / "answer", "ok\n");
  const std::string url = "file://" + dir / "answer";
  std::map<std::string, std::string> none;
  try {
    HTTPResponse r = HTTPRequest::GET(url.c_str(), none);
    ADD_FAILURE() << "read " << url << ": [" << r.get_response() << "]";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Unsupported protocol");
  }
}

TEST(HttpTransfer, BodyAboveTheCapIsRefused) {
  HTTPResponse r("http://x", 10);
  char chunk[8] = "1234567";
  EXPECT_EQ(_rcv_data(chunk, 1, 7, &r), 7u);
  EXPECT_EQ(_rcv_data(chunk, 1, 7, &r), 0u);  // 14 > 10: libcurl aborts
  EXPECT_TRUE(r.overflowed());
  EXPECT_EQ(r.get_response(), "1234567");
  EXPECT_EQ(size_t(HTTPResponse::MAX_BODY_BYTES), size_t(64) << 20);
}

TEST_F(HttpQueries, StalledServerFailsWithinTheBound) {
  qnservertest::StandIn server(repo.path(), {"--fault", "stall"});
  auto start = std::chrono::steady_clock::now();
  std::map<std::string, std::string> p = {{"op", "hi"}, {"rv", "2"}};
  EXPECT_THROW(HTTPRequest::GET(server.url().c_str(), p), std::runtime_error);
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Generous: the stall bound is 30 s; the point is that it ends at all.
  EXPECT_LT(seconds, 90);
  EXPECT_TRUE(server.Logged("stalled"));
}

TEST(StandInCommandLine, HelpAndBadArguments) {
  const std::string server = qntest::BinaryPath("sim/update-server");
  qntest::RunResult help = qntest::Run(server, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* part : {"--repo DIR", "--port N", "--cert FILE", "--fault MODE[:OP]",
                           "DIR/devices/SSSSSSSS/NNN.bird", "DIR/recovery/"})
    EXPECT_NE(help.out.find(part), std::string::npos) << part;

  qntest::TempDir repo;
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{}, "--repo DIR is required"},
      {{"--repo", repo.path() + "/missing"}, "no repository at"},
      {{"--repo", repo.path(), "--port", "70000"}, "bad port"},
      {{"--repo", repo.path(), "--fault", "explode"}, "unknown fault"},
      {{"--repo", repo.path(), "--cert", "x.pem"}, "--cert and --key go together"},
      {{"--repo", repo.path(), "--cert", "/nonexistent.pem", "--key", "/nonexistent.key"},
       "cannot use certificate"},
      {{"--repo", repo.path(), "--bogus"}, "unexpected argument --bogus"},
  };
  for (const Case& c : cases) {
    qntest::RunResult r = qntest::Run(server, c.args);
    EXPECT_EQ(r.exitCode, 2) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

// HTTPS verifies the server: chain and host name against the CA store, a
// private CA through QN_CA_BUNDLE, and no check at all only with
// QN_TLS_NO_VERIFY. Each test runs in its own process, so the environment
// changes stay inside it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "server/HTTPRequest.h"
#include "server/UpdateServerRequest.h"
#include "tests/server/Fixtures.h"

namespace {

class Tls : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv(HTTPRequest::CA_BUNDLE_ENV);
    unsetenv(HTTPRequest::NO_VERIFY_ENV);
    qnservertest::AddDevice(repo.path(), 0x40F5849A, {{1234, "2.10.4"}}, "aa.bb.cc");
  }
  std::unique_ptr<qnservertest::StandIn> Start(const std::string& names) {
    pki = qnservertest::MakeTestPki(certs.path(), names);
    return std::make_unique<qnservertest::StandIn>(
        repo.path(), std::vector<std::string>{"--cert", pki.serverCert, "--key", pki.serverKey});
  }
  std::string Fetch(const std::string& url) {
    std::map<std::string, std::string> p = {{"op", "hi"}, {"rv", "2"}};
    return HTTPRequest::GET(url.c_str(), p).get_response();
  }
  qntest::TempDir repo, certs;
  qnservertest::TestPki pki;
};

}  // namespace

TEST_F(Tls, UntrustedCertificateIsRefusedThenTrustedThroughTheCaBundle) {
  auto server = Start("IP:127.0.0.1,DNS:localhost");
  ASSERT_EQ(server->url().compare(0, 8, "https://"), 0);
  EXPECT_THROW(Fetch(server->url()), std::runtime_error);
  EXPECT_FALSE(UpdateServerRequest::ping(server->url().c_str()));

  setenv(HTTPRequest::CA_BUNDLE_ENV, pki.caCert.c_str(), 1);
  EXPECT_EQ(Fetch(server->url()), "ok\n");
  std::string token;
  EXPECT_TRUE(UpdateServerRequest::GetDeviceJWT(0x40F5849A, token, server->url().c_str()));
  EXPECT_EQ(token, "aa.bb.cc");
}

TEST_F(Tls, HostNameMustMatchEvenWithATrustedCa) {
  auto server = Start("DNS:elsewhere.invalid");
  setenv(HTTPRequest::CA_BUNDLE_ENV, pki.caCert.c_str(), 1);
  EXPECT_THROW(Fetch(server->url()), std::runtime_error);
}

TEST_F(Tls, SwitchTurnsVerificationOff) {
  auto server = Start("DNS:elsewhere.invalid");
  setenv(HTTPRequest::NO_VERIFY_ENV, "1", 1);
  EXPECT_EQ(Fetch(server->url()), "ok\n");
  // "0" is not a request to skip verification.
  setenv(HTTPRequest::NO_VERIFY_ENV, "0", 1);
  EXPECT_THROW(Fetch(server->url()), std::runtime_error);
}

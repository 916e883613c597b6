// Shared fixtures of the server tests: BIRD files made in memory, a
// repository laid out in a temporary directory, a test PKI made with the
// openssl command, and the update server stand-in run as a process.
#pragma once

#include <stdint.h>

#include <filesystem>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Process.h"

namespace qnservertest {

// A loadable BIRD file: one loader block, one firmware block of
// `imageSize` pseudo-random bytes, serial offsets and a description.
std::string MakeBird(uint32_t build, const std::string& version, uint32_t serial,
                     const std::string& model = "HubQuad2", size_t imageSize = 1024);

struct RepoBuild {
  uint32_t build;
  std::string version;
};

// Writes REPO/devices/SSSSSSSS/NNN.bird for each build, and the token when
// it is not empty. Returns the repository path.
std::string AddDevice(const std::string& repo, uint32_t serial,
                      const std::vector<RepoBuild>& builds, const std::string& token = "");

// A CA and a server certificate it signed, valid for `names`
// (subjectAltName entries such as "IP:127.0.0.1,DNS:localhost").
struct TestPki {
  std::string caCert, serverCert, serverKey;
};
TestPki MakeTestPki(const std::string& dir, const std::string& names);

// The stand-in, started on a port the system chooses.
class StandIn {
 public:
  StandIn(const std::string& repo, const std::vector<std::string>& extraArgs = {});
  const std::string& url() const { return url_; }  // http(s)://127.0.0.1:PORT/cgi/u
  std::string Log() const { return process_->Stdout(); }
  // Requests are logged once answered, so a test waits for its line.
  bool Logged(const std::string& text) { return !process_->WaitForLine(text, 10).empty(); }

 private:
  std::unique_ptr<qntest::Background> process_;
  std::string url_;
};

}  // namespace qnservertest

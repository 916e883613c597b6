#include "tests/server/Fixtures.h"

#include <stdio.h>

#include <filesystem>
#include <stdexcept>

#include "tools/BirdWriter.h"

namespace qnservertest {

std::string MakeBird(uint32_t build, const std::string& version, uint32_t serial,
                     const std::string& model, size_t imageSize) {
  BirdWriter::Bytes image(imageSize);
  uint32_t x = build * 2654435761u + 1;
  for (uint8_t& byte : image) {
    x = x * 1103515245u + 12345u;
    byte = uint8_t(x >> 16);
  }
  BirdWriter writer;
  writer.AddDescription({std::to_string(build), version, serial, model})
      .AddSerialOffsets(0x00004010, 0x00004020)
      .AddLoader(0x10000000, BirdWriter::Bytes(64, 0x5A))
      .AddFirmware(0x00004000, image);
  BirdWriter::Bytes bytes = writer.Build();
  return std::string(bytes.begin(), bytes.end());
}

std::string AddDevice(const std::string& repo, uint32_t serial,
                      const std::vector<RepoBuild>& builds, const std::string& token) {
  char serialText[9];
  snprintf(serialText, sizeof serialText, "%08X", serial);
  std::string dir = repo + "/devices/" + serialText;
  std::filesystem::create_directories(dir);
  for (const RepoBuild& b : builds)
    qntest::WriteFile(dir + "/" + std::to_string(b.build) + ".bird",
                      MakeBird(b.build, b.version, serial));
  if (!token.empty()) qntest::WriteFile(dir + "/token", token + "\n");
  return repo;
}

TestPki MakeTestPki(const std::string& dir, const std::string& names) {
  TestPki pki{dir + "/ca.pem", dir + "/server.pem", dir + "/server.key"};
  const std::string caKey = dir + "/ca.key", csr = dir + "/server.csr", ext = dir + "/ext.cnf";
  qntest::WriteFile(ext, "subjectAltName=" + names + "\n");
  const std::vector<std::vector<std::string>> steps = {
      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
       "-keyout", caKey, "-out", pki.caCert, "-days", "2", "-subj", "/CN=Quillnode Test CA"},
      {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
       pki.serverKey, "-out", csr, "-subj", "/CN=update server test"},
      {"x509", "-req", "-in", csr, "-CA", pki.caCert, "-CAkey", caKey, "-CAcreateserial", "-out",
       pki.serverCert, "-days", "2", "-extfile", ext},
  };
  for (const auto& args : steps) {
    qntest::RunResult r = qntest::Run("/usr/bin/openssl", args);
    if (r.exitCode != 0) throw std::runtime_error("openssl failed: " + r.err);
  }
  return pki;
}

StandIn::StandIn(const std::string& repo, const std::vector<std::string>& extraArgs) {
  std::vector<std::string> args = {"--repo", repo, "--port", "0"};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  process_ = std::make_unique<qntest::Background>(qntest::BinaryPath("sim/update-server"), args);
  std::string line = process_->WaitForLine("serving");
  size_t at = line.find(" on ");
  if (line.empty() || at == std::string::npos)
    throw std::runtime_error("update server did not start: " + process_->Stderr());
  url_ = line.substr(at + 4);
  while (!url_.empty() && (url_.back() == '\n' || url_.back() == '\r')) url_.pop_back();
}

}  // namespace qnservertest

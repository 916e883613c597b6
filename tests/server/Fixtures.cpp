#include "tests/server/Fixtures.h"

#include <stdio.h>
#include <zlib.h>

#include <filesystem>
#include <stdexcept>

namespace qnservertest {
namespace {

void sPut32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += char(v >> shift & 0xFF);
}

void sBlock(std::string& out, uint8_t type, const std::string& content) {
  out += char(type);
  sPut32(out, uint32_t(content.size()));
  out += content;
}

std::string sField(const std::string& text) {
  std::string f = text.substr(0, 16);
  f.resize(16, ' ');
  return f;
}

}  // namespace

std::string MakeBird(uint32_t build, const std::string& version, uint32_t serial,
                     const std::string& model, size_t imageSize) {
  std::string contents;
  sPut32(contents, 4);
  std::string loader;
  sPut32(loader, 0x10000000);
  loader += std::string(64, '\x5A');
  sBlock(contents, 0, loader);
  std::string image;
  sPut32(image, 0x00004000);
  uint32_t x = build * 2654435761u + 1;
  for (size_t i = 0; i < imageSize; ++i) {
    x = x * 1103515245u + 12345u;
    image += char(x >> 16 & 0xFF);
  }
  sBlock(contents, 1, image);
  std::string offsets;
  sPut32(offsets, 0x00004010);
  sPut32(offsets, 0x00004020);
  sBlock(contents, 2, offsets);
  char serialText[9];
  snprintf(serialText, sizeof serialText, "%08X", serial);
  sBlock(contents, 4,
         sField(std::to_string(build)) + sField(version) + sField(serialText) + sField(model));
  sPut32(contents, 0x12345678);  // file checksum

  uLongf size = compressBound(contents.size());
  std::string packed(size, '\0');
  if (compress(reinterpret_cast<Bytef*>(&packed[0]), &size,
               reinterpret_cast<const Bytef*>(contents.data()), contents.size()) != Z_OK)
    throw std::runtime_error("compress failed");
  packed.resize(size);
  return std::string("bird\x01\x01", 6) + packed;
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

// -G, -B, -L and -J with the real updater against the update server
// stand-in on loopback, with BIRD files made by the BIRD tool.
#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Process.h"

namespace fs = std::filesystem;

namespace {

const char kSerial[] = "40F5849A";

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A BIRD file made with the BIRD tool, its firmware image `imageSize` bytes.
void MakeBird(const std::string& path, unsigned build, const std::string& version,
              const std::string& serial, size_t imageSize = 4096) {
  const std::string image = path + ".image", loader = path + ".loader";
  std::string bytes(imageSize, '\0');
  for (size_t i = 0; i < imageSize; ++i) bytes[i] = char((i * 131 + build) & 0xFF);
  qntest::WriteFile(image, bytes);
  qntest::WriteFile(loader, std::string(256, '\x42'));
  qntest::RunResult r = qntest::Run(
      qntest::BinaryPath("tools/birdtool"),
      {"make", path, "--loader", "0x10000000:" + loader, "--firmware", "0x4000:" + image,
       "--build", std::to_string(build), "--version", version, "--serial", serial, "--model",
       "HubQuad2", "--serial-offset", "0x4010", "--descriptor-offset", "0x4020"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  fs::remove(image);
  fs::remove(loader);
}

class ServerCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    device = repo / (std::string("devices/") + kSerial);
    fs::create_directories(device);
    for (auto b : std::vector<std::pair<unsigned, std::string>>{
             {1200, "2.9.0"}, {1234, "2.10.4"}, {1240, "2.10.0"}})
      MakeBird(device + "/" + std::to_string(b.first) + ".bird", b.first, b.second, kSerial);
    qntest::WriteFile(device + "/latest", "1234\n");
    qntest::WriteFile(device + "/token", "aa.bb.cc\n");
  }

  void StartServer(const std::vector<std::string>& extra = {}) {
    server.reset();
    std::vector<std::string> args = {"--repo", repo.path(), "--port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    server = std::make_unique<qntest::Background>(qntest::BinaryPath("sim/update-server"), args);
    std::string line = server->WaitForLine("serving");
    ASSERT_FALSE(line.empty()) << server->Stderr();
    url = line.substr(line.find(" on ") + 4);
    url.erase(url.find_last_not_of("\r\n") + 1);
  }

  qntest::RunResult Updater(std::vector<std::string> args, qntest::RunOptions options = {}) {
    args.insert(args.end(), {"-i", store.path(), "-u", url});
    options.env["HOME"] = home.path();
    return qntest::Run(qntest::BinaryPath("app/updater"), args, options);
  }

  std::string StoreDevice() const { return store.path() + "/updater/" + kSerial; }
  std::string Settings() const { return qntest::ReadFile(StoreDevice() + "/.settings"); }

  qntest::TempDir repo, store, home;
  std::string device, url;
  std::unique_ptr<qntest::Background> server;
};

}  // namespace

TEST_F(ServerCommands, DownloadForANewDeviceCreatesItsDirectoryAndRecordsTheBuild) {
  StartServer();
  qntest::RunResult r = Updater({"-G", "-d", kSerial});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const char* line :
       {"Retrieving firmware for device with serial number 40F5849A\n", "No build specified\n",
        "Using Latest build\n", "Retrieving build 1234\n", "Validating build 1234 with server\n",
        "Build 1234 is valid\n"})
    EXPECT_TRUE(Has(r.out, line)) << line << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(Has(r.out, "Downloading"));  // no spinner off a terminal

  EXPECT_EQ(qntest::ReadFile(StoreDevice() + "/1234.bird"),
            qntest::ReadFile(device + "/1234.bird"));
  std::string settings = Settings();
  for (const char* key : {"CREATED_TIME=", "UPDATED_TIME=", "LATEST_DOWNLOAD=1234.bird\n",
                          "LAST_DOWNLOAD_DATE="})
    EXPECT_TRUE(Has(settings, key)) << key << settings;
  // Only the build and the attribute file: no leftovers of the check.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(StoreDevice()))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".settings", "1234.bird"}));
}

TEST_F(ServerCommands, DownloadOfAGivenBuildAndOfAnUnknownOne) {
  StartServer();
  qntest::RunResult given = Updater({"-G", "-d", kSerial, "-b", "1240"});
  EXPECT_EQ(given.exitCode, 0) << given.err;
  EXPECT_TRUE(Has(given.out, "Retrieving firmware build 1240\n"));
  EXPECT_TRUE(Has(Settings(), "LATEST_DOWNLOAD=1240.bird\n"));

  qntest::RunResult unknown = Updater({"-G", "-d", kSerial, "-b", "999"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_TRUE(Has(unknown.err, "No valid build 999\n")) << unknown.err;
  EXPECT_FALSE(Has(server->Stdout(), "bld=999"));  // never asked for

  qntest::RunResult forced = Updater({"-G", "-d", kSerial, "-b", "999", "-OVERRIDE"});
  EXPECT_EQ(forced.exitCode, 1);
  EXPECT_TRUE(Has(forced.out, "Override specified, skipping validation of build 999\n"));
  EXPECT_TRUE(Has(forced.err, "Download failed\n")) << forced.err;
  EXPECT_TRUE(server->WaitForLine("bld=999").size() > 0);  // tried anyway
  EXPECT_FALSE(fs::exists(StoreDevice() + "/999.bird"));
  EXPECT_TRUE(Has(Settings(), "LATEST_DOWNLOAD=1240.bird\n"));

  // Non-digits in -b become build 0 while the options are read: the latest.
  qntest::RunResult latest = Updater({"-G", "-d", kSerial, "-b", "abc"});
  EXPECT_EQ(latest.exitCode, 0) << latest.err;
  EXPECT_TRUE(Has(latest.out, "Retrieving build 1234\n"));
}

TEST_F(ServerCommands, UnreachableServerLeavesTheStoreAlone) {
  url = "http://127.0.0.1:1/cgi/u";
  qntest::RunResult r = Updater({"-G", "-d", kSerial});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Server request failed for http://127.0.0.1:1/cgi/u\n")) << r.err;
  EXPECT_FALSE(fs::exists(StoreDevice()));

  for (const char* command : {"-B", "-J"}) {
    qntest::RunResult list = Updater({command, "-d", kSerial});
    EXPECT_EQ(list.exitCode, 0) << command;
    EXPECT_TRUE(Has(list.err, "Server request failed for")) << command;
  }
}

TEST_F(ServerCommands, BuildListsFromTheServerAndFromTheStore) {
  StartServer();
  qntest::RunResult server = Updater({"-B", "-d", kSerial});
  EXPECT_EQ(server.exitCode, 0) << server.err;
  EXPECT_TRUE(Has(server.out,
                  "Build List for device [40F5849A]:\n\n"
                  "Build          \tVersion        \n"
                  "1234           \t2.10.4         \n"
                  "1240           \t2.10.0         \n"
                  "1200           \t2.9.0          \n"))
      << server.out;

  qntest::RunResult none = Updater({"-L", "-d", kSerial});
  EXPECT_EQ(none.exitCode, 0);
  EXPECT_TRUE(Has(none.out, "No builds found for device [40F5849A]\n")) << none.out;

  ASSERT_EQ(Updater({"-G", "-d", kSerial}).exitCode, 0);
  qntest::WriteFile(StoreDevice() + "/notes.txt", "not a build");
  qntest::RunResult local = Updater({"-L", "-d", kSerial});
  EXPECT_EQ(local.exitCode, 0) << local.err;
  EXPECT_TRUE(Has(local.out,
                  "Build List for device [40F5849A]:\n\n"
                  "Build          \tVersion        \n"
                  "1234           \t2.10.4         \n"
                  "notes.txt      \t               \n"))
      << local.out;

  qntest::RunResult unknown = Updater({"-B", "-d", "12345678"});
  EXPECT_EQ(unknown.exitCode, 0);
  EXPECT_TRUE(Has(unknown.err, "Failed to retrieve builds for 12345678\n")) << unknown.err;
  EXPECT_TRUE(Has(unknown.out, "No builds found for device [12345678]\n"));
}

TEST_F(ServerCommands, TokenAndABadTokenLine) {
  StartServer();
  qntest::RunResult good = Updater({"-J", "-d", kSerial});
  EXPECT_EQ(good.exitCode, 0);
  EXPECT_TRUE(Has(good.out, "\naa.bb.cc\n")) << good.out;

  qntest::WriteFile(device + "/token", "aa.bb\n");
  qntest::RunResult bad = Updater({"-J", "-d", kSerial});
  EXPECT_EQ(bad.exitCode, 0);
  EXPECT_TRUE(Has(bad.err, "Failed to retrieve jwt for 40F5849A\n")) << bad.err;
  // The version line, then the empty token line.
  EXPECT_EQ(bad.out.substr(bad.out.size() - 3), ")\n\n") << bad.out;
}

TEST_F(ServerCommands, SpinnerIsDrawnOnATerminalOnly) {
  StartServer({"--delay", "1500:bird"});
  qntest::RunOptions terminal;
  terminal.onTerminal = true;
  qntest::RunResult r = Updater({"-G", "-d", kSerial}, terminal);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  // About one frame per 100 ms of a 1.5 s download.
  size_t frames = Count(r.out, " (Downloading) ");
  EXPECT_GE(frames, 8u) << r.out;
  EXPECT_LE(frames, 40u) << r.out;
}

// A download that is no firmware file leaves the store as it was: the
// earlier build, its attribute file and nothing else.
TEST_F(ServerCommands, BrokenDownloadsLeaveTheStoreAsItWas) {
  StartServer();
  ASSERT_EQ(Updater({"-G", "-d", kSerial, "-b", "1240"}).exitCode, 0);
  const std::string settingsBefore = Settings();
  const std::string birdBefore = qntest::ReadFile(StoreDevice() + "/1240.bird");

  // The server's own copy of build 1300 is damaged: a BIRD header over
  // contents that do not decompress. It decodes and passes the quick header
  // check, but it does not load.
  const std::string whole = qntest::ReadFile(device + "/1240.bird");
  qntest::WriteFile(device + "/1300.bird", whole.substr(0, whole.size() / 2));

  struct Case {
    const char* fault;  // empty: none
    const char* build;  // empty: the latest
  } cases[] = {
      {"garbage:bird", ""}, {"notbird:bird", ""}, {"truncate:bird", ""}, {"", "1300"}};
  for (const Case& c : cases) {
    const std::string label = std::string(c.fault) + " " + c.build;
    StartServer(*c.fault ? std::vector<std::string>{"--fault", c.fault}
                         : std::vector<std::string>{});
    std::vector<std::string> args = {"-G", "-d", kSerial};
    if (*c.build) args.insert(args.end(), {"-b", c.build});
    qntest::RunResult r = Updater(args);
    EXPECT_EQ(r.exitCode, 1) << label << r.out;
    EXPECT_TRUE(Has(r.err, "Failed to retrieve a valid BIRD file\n")) << label << r.err;
    EXPECT_EQ(Settings(), settingsBefore) << label;
    EXPECT_EQ(qntest::ReadFile(StoreDevice() + "/1240.bird"), birdBefore) << label;
    size_t entries = std::distance(fs::directory_iterator(StoreDevice()), {});
    EXPECT_EQ(entries, 2u) << label;
  }
}

TEST_F(ServerCommands, NewDeviceGetsNoBuildFromAGarbageDownload) {
  StartServer({"--fault", "garbage:bird"});
  qntest::RunResult r = Updater({"-G", "-d", kSerial});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(fs::exists(StoreDevice() + "/1234.bird"));
  EXPECT_FALSE(Has(Settings(), "LATEST_DOWNLOAD"));
}

// A build that cannot be written is reported, and LATEST_DOWNLOAD does not
// name a file that is not there.
TEST_F(ServerCommands, WriteFailureRecordsNothing) {
  StartServer();
  fs::create_directories(StoreDevice() + "/1234.bird");  // the name is taken by a directory
  qntest::RunResult r = Updater({"-G", "-d", kSerial});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Failed to write file with ")) << r.err;
  EXPECT_FALSE(Has(Settings(), "LATEST_DOWNLOAD"));
  EXPECT_TRUE(fs::is_directory(StoreDevice() + "/1234.bird"));
}

TEST_F(ServerCommands, StalledDownloadFailsWithinTheBound) {
  StartServer({"--fault", "stall:bird"});
  auto start = std::chrono::steady_clock::now();
  qntest::RunOptions bounded;
  bounded.timeoutSeconds = 100;
  qntest::RunResult r = Updater({"-G", "-d", kSerial}, bounded);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Download failed\n")) << r.err;
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 90);
  EXPECT_FALSE(fs::exists(StoreDevice() + "/1234.bird"));
}

TEST_F(ServerCommands, HostAndPortFormAndHttps) {
  StartServer();
  std::string hostPort = url.substr(7, url.find("/cgi/u") - 7);  // "127.0.0.1:PORT"
  url = hostPort;
  qntest::RunResult plain = Updater({"-B", "-d", kSerial});
  EXPECT_TRUE(Has(plain.out, "1234           \t2.10.4")) << plain.err;

  qntest::TempDir pki;
  const std::string ca = pki / "ca.pem", key = pki / "key.pem", cert = pki / "cert.pem";
  const std::string caKey = pki / "ca.key", csr = pki / "req.csr", ext = pki / "ext.cnf";
  qntest::WriteFile(ext, "subjectAltName=IP:127.0.0.1\n");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
            "-nodes", "-keyout", caKey, "-out", ca, "-days", "2", "-subj", "/CN=e2e CA"},
           {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", key, "-out", csr, "-subj", "/CN=e2e server"},
           {"x509", "-req", "-in", csr, "-CA", ca, "-CAkey", caKey, "-CAcreateserial", "-out",
            cert, "-days", "2", "-extfile", ext}})
    ASSERT_EQ(qntest::Run("/usr/bin/openssl", args).exitCode, 0);
  StartServer({"--cert", cert, "--key", key});
  ASSERT_EQ(url.compare(0, 8, "https://"), 0);

  qntest::RunResult untrusted = Updater({"-G", "-d", kSerial});
  EXPECT_EQ(untrusted.exitCode, 1);
  EXPECT_TRUE(Has(untrusted.err, "Server request failed for https://")) << untrusted.err;

  qntest::RunOptions trusted;
  trusted.env["QN_CA_BUNDLE"] = ca;
  qntest::RunResult ok = Updater({"-G", "-d", kSerial}, trusted);
  EXPECT_EQ(ok.exitCode, 0) << ok.err;
  EXPECT_TRUE(fs::exists(StoreDevice() + "/1234.bird"));

  qntest::RunOptions unchecked;
  unchecked.env["QN_TLS_NO_VERIFY"] = "1";
  qntest::RunResult warned = Updater({"-J", "-d", kSerial}, unchecked);
  EXPECT_TRUE(Has(warned.out, "aa.bb.cc\n"));
  EXPECT_TRUE(Has(warned.err, "WARNING: QN_TLS_NO_VERIFY is set")) << warned.err;
}

// Without --port the stand-in takes the tool's default endpoint, so the two
// meet with no option at all. (The only test that uses the fixed port.)
TEST_F(ServerCommands, DefaultEndpointMeetsTheStandIn) {
  qntest::Background standIn(qntest::BinaryPath("sim/update-server"), {"--repo", repo.path()});
  ASSERT_NE(standIn.WaitForLine("serving").find("http://127.0.0.1:8478/cgi/u"), std::string::npos)
      << standIn.Stderr();
  qntest::RunOptions options;
  options.env["HOME"] = home.path();
  qntest::RunResult r = qntest::Run(qntest::BinaryPath("app/updater"),
                                    {"-B", "-d", kSerial, "-i", store.path()}, options);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(Has(r.out, "1234           \t2.10.4")) << r.out << r.err;
}

// The module-sim program with SDK clients in other processes: on each
// transport a link reaches status 2 and a UEI get of the serial number comes
// back; lsusb sees the virtual module; the command line is checked.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Process.h"

namespace {

std::string Sim() { return qntest::BinaryPath("sim/module-sim"); }
std::string Probe() { return qntest::BinaryPath("tests/sim/link-probe"); }

// The value after "module-sim: <prefix>" in the simulator's start-up lines.
std::string After(qntest::Background& sim, const std::string& prefix) {
  std::string line = sim.WaitForLine("module-sim: " + prefix);
  if (line.empty()) return "";
  std::string rest = line.substr(line.find(prefix) + prefix.size());
  while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r')) rest.pop_back();
  return rest;
}

std::map<std::string, std::string> UsbEnv(qntest::Background& sim) {
  std::map<std::string, std::string> env;
  std::istringstream in(After(sim, "usb-env "));
  std::string pair;
  while (in >> pair) {
    const size_t eq = pair.find('=');
    env[pair.substr(0, eq)] = pair.substr(eq + 1);
  }
  // The SDK clients here are built with the sanitizers, whose runtime then
  // no longer loads first.
  const char* asan = getenv("ASAN_OPTIONS");
  env["ASAN_OPTIONS"] = std::string(asan && *asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0";
  return env;
}

qntest::RunResult RunProbe(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) {
  qntest::RunOptions o;
  o.env = env;
  o.timeoutSeconds = 30;
  return qntest::Run(Probe(), args, o);
}

TEST(ModuleSim, EveryTransportCarriesALinkAndAUEIGet) {
  qntest::Background sim(Sim(), {"--module", "serial=40F5849A,model=17,usb,tcp,serial-line",
                                 "--module", "serial=0BADCAFE,model=21,usb,kernel"});
  ASSERT_FALSE(sim.WaitForLine("module-sim: ready").empty()) << sim.Stderr();
  const std::string tcp = After(sim, "40F5849A tcp 127.0.0.1 ");
  const std::string line = After(sim, "40F5849A serial-line ");
  const std::map<std::string, std::string> env = UsbEnv(sim);
  ASSERT_FALSE(tcp.empty());
  ASSERT_FALSE(line.empty());
  ASSERT_EQ(env.count("UMOCKDEV_DIR"), 1u);

  struct Case {
    const char* name;
    std::vector<std::string> args;
    bool usb;
    const char* path;
  } cases[] = {
      {"virtual USB", {"usb", "40F5849A"}, true, "path libusb"},
      {"kernel node", {"usb", "0BADCAFE"}, true, "path kernel"},
      {"TCP", {"tcp", "40F5849A", tcp}, false, nullptr},
      {"serial line", {"serial", "40F5849A", line}, false, nullptr},
  };
  for (const Case& c : cases) {
    qntest::RunResult r = RunProbe(c.args, c.usb ? env : std::map<std::string, std::string>());
    EXPECT_EQ(r.exitCode, 0) << c.name << "\n" << r.out << r.err;
    EXPECT_NE(r.out.find(" status 2\n"), std::string::npos) << c.name << "\n" << r.out;
    EXPECT_NE(r.out.find("serial " + c.args[1] + "\n"), std::string::npos) << c.name << "\n" << r.out;
    if (c.path) {
      EXPECT_NE(r.out.find(c.path), std::string::npos) << c.name << "\n" << r.out;
    }
  }
}

TEST(ModuleSim, LsusbSeesTheVirtualModule) {
  qntest::TempDir dir;
  qntest::Background sim(Sim(), {"--module", "serial=40F5849A,model=17,usb", "--env-file", dir / "usb.env"});
  ASSERT_FALSE(sim.WaitForLine("module-sim: ready").empty()) << sim.Stderr();
  qntest::RunOptions o;
  o.env = UsbEnv(sim);
  // The environment file says the same, for a shell to source.
  EXPECT_NE(qntest::ReadFile(dir / "usb.env").find("export UMOCKDEV_DIR=" + o.env["UMOCKDEV_DIR"] + "\n"),
            std::string::npos);
  qntest::RunResult r = qntest::Run("/usr/bin/lsusb", {"-v", "-d", "24ff:"}, o);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* expected : {"idVendor           0x24ff", "bInterfaceClass       255", "bInterfaceSubClass    136",
                               "bInterfaceProtocol     16", "EP 1 IN", "EP 2 OUT", "iSerial                 3 40F5849A"}) {
    EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
  }
  // SIGTERM stops it in good order (no kill needed), and the testbed goes.
  EXPECT_EQ(sim.Stop(5), 0);
  EXPECT_NE(access(o.env["UMOCKDEV_DIR"].c_str(), F_OK), 0);
}

TEST(ModuleSim, ASilentModuleNeverGivesAUsbLink) {
  qntest::Background sim(Sim(), {"--module", "serial=40F5849A,usb,silent"});
  ASSERT_FALSE(sim.WaitForLine("module-sim: ready").empty()) << sim.Stderr();
  qntest::RunResult r = RunProbe({"usb", "40F5849A"}, UsbEnv(sim));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("link 0 status 5"), std::string::npos) << r.out;
}

TEST(ModuleSim, TheCommandLineIsChecked) {
  qntest::RunResult help = qntest::Run(Sim(), {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Usage: module-sim --module SPEC"), std::string::npos);
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {}, {"--module"}, {"--module", "model=17"}, {"--module", "serial=40F5849A,warp=9"}, {"--frobnicate"}}) {
    qntest::RunResult r = qntest::Run(Sim(), bad);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("module-sim: "), std::string::npos) << r.err;
  }
}

}  // namespace

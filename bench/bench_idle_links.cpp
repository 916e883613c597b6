// Benchmark: the CPU time a process spends while it holds an idle TCP link
// and an idle USB link to the module simulator for 5 s, against the same
// process sleeping 5 s without links. Goal: under 1% of one core.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>
#include <arpa/inet.h>

#include <chrono>
#include <string>
#include <thread>

#include "sdk/core/tLink.h"
#include "tests/support/CpuTime.h"
#include "tests/support/Process.h"
#include "sdk/core/tUSB.h"

namespace {

constexpr double sSeconds = 5.0;
constexpr uint32_t sSerial = 0x40F5849A;

double sIdleFor(double seconds) {
  const double c0 = qntest::CpuSeconds();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  return qntest::CpuSeconds() - c0;
}

// Runs inside the umockdev preload, with the simulator already up.
int sInner(uint16_t port) {
  const double baseline = sIdleFor(sSeconds);
  int tcp = tLink_CreateTCPIP(sSerial, htonl(INADDR_LOOPBACK), port);
  int usb = tLink_CreateUSB(sSerial);
  if (tcp == 0 || usb == 0 || tLink_GetStatus(tcp) != 2 || tLink_GetStatus(usb) != 2) {
    fprintf(stderr, "idle_links: links did not come up (tcp %d, usb %d)\n", tcp, usb);
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // creation settles
  const double held = sIdleFor(sSeconds);
  const bool still = tLink_GetStatus(tcp) == 2 && tLink_GetStatus(usb) == 2;
  tLink_Destroy(&tcp);
  tLink_Destroy(&usb);
  Quillnode_libusb_exit();
  const double percent = 100.0 * held / sSeconds;
  printf("idle links: TCP + USB held %.0f s: cpu %.4f s (%.3f%% of a core); same process without links %.4f s; "
         "difference %.4f s; goal under 1%%: %s%s\n",
         sSeconds, held, percent, baseline, held - baseline, percent < 1.0 ? "met" : "MISSED",
         still ? "" : " (a link dropped meanwhile)");
  return still ? 0 : 1;  // a figure, not a test: only a failed measurement fails
}

// The rest of a start-up line of the simulator ("module-sim: <prefix>...").
std::string sAfter(qntest::Background& sim, const std::string& prefix) {
  std::string line = sim.WaitForLine("module-sim: " + prefix);
  if (line.empty()) return "";
  std::string rest = line.substr(line.find(prefix) + prefix.size());
  while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r')) rest.pop_back();
  return rest;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--inner") == 0) return sInner(static_cast<uint16_t>(atoi(argv[2])));
  qntest::Background sim(QN_MODULE_SIM, {"--module", "serial=40F5849A,usb,tcp"});
  if (sim.WaitForLine("module-sim: ready").empty()) {
    fprintf(stderr, "bench_idle_links: module-sim did not start\n");
    return 1;
  }
  const std::string port = sAfter(sim, "40F5849A tcp 127.0.0.1 ");
  const std::string env = sAfter(sim, "usb-env ");
  const std::string dir = env.substr(env.find("UMOCKDEV_DIR=") + strlen("UMOCKDEV_DIR="));
  // The measured process runs inside umockdev's preload, which has to be
  // there from its start.
  const pid_t child = fork();
  if (child == 0) {
    setenv("LD_PRELOAD", "libumockdev-preload.so.0", 1);
    setenv("UMOCKDEV_DIR", dir.c_str(), 1);
    execl("/proc/self/exe", argv[0], "--inner", port.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

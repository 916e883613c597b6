// module-sim: simulated modules for the Updater and the SDK, reachable over
// TCP, a serial line (pseudo-terminal with COBS framing), virtual USB and the
// kernel-driver node. See --help.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sim/module/Simulator.h"

namespace {

const char sUsage[] =
    "Usage: module-sim --module SPEC [--module SPEC]... [options]\n"
    "\n"
    "Runs simulated modules that answer the host's packet protocol: the sync handshake,\n"
    "route packets and heartbeats, UEI gets, sets and calls of the system entity with\n"
    "byte-array trains, the module-information queries, the debug echo and the I2C entity.\n"
    "\n"
    "  --module SPEC     one module; SPEC is a comma-separated list of keys:\n"
    "                      serial=HEX (8 hex digits, required), model=N (17), address=N (2),\n"
    "                      version=M.m.p (2.15.3), build=N (1000), name=TEXT, hwversion=N,\n"
    "                      heartbeat=N (a heartbeat every N x 100 ms), nopooled, silent,\n"
    "                      router=HEX (behind that module, on its I2C network)\n"
    "                    and its transports:\n"
    "                      tcp[=PORT]    TCP server (port 0 or none: any free port)\n"
    "                      serial-line   pseudo-terminal with COBS framing and CRC-8\n"
    "                      usb           virtual USB device (vendor 0x24FF)\n"
    "                      kernel        kernel-driver node /dev/quillnode.SERIAL\n"
    "                    USB faults: product=HEX, inonly, busy, stall=in|out|both,\n"
    "                      ioerrors=N, unplug=MS, replug=MS\n"
    "  --bind ADDR       address of the TCP servers (default 127.0.0.1)\n"
    "  --env-file FILE   write the environment a USB client needs (export lines) to FILE\n"
    "  --help            this text\n"
    "\n"
    "On start it prints one line per transport, for example\n"
    "  module-sim: 40F5849A tcp 127.0.0.1 40123\n"
    "  module-sim: 40F5849A serial-line /dev/pts/3\n"
    "  module-sim: 40F5849A usb 001/002\n"
    "  module-sim: 40F5849A kernel /dev/quillnode.40F5849A\n"
    "then, with a USB bus, the environment of its clients:\n"
    "  module-sim: usb-env LD_PRELOAD=libumockdev-preload.so.0 UMOCKDEV_DIR=/tmp/umockdev.XXXXXX\n"
    "and \"module-sim: ready\". A program started with that environment (lsusb, the\n"
    "updater) sees the USB modules as real devices. SIGINT or SIGTERM stops it.\n"
    "\n"
    "Example:\n"
    "  module-sim --module serial=40F5849A,model=17,usb,tcp \\\n"
    "             --module serial=1234ABCD,address=4,router=40F5849A\n";

volatile sig_atomic_t sStop = 0;

void sOnSignal(int) { sStop = 1; }

int sFail(const std::string& text) {
  fprintf(stderr, "module-sim: %s\n", text.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<qnsim::ModuleSpec> specs;
  std::string bind = "127.0.0.1", envFile;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      fputs(sUsage, stdout);
      return 0;
    } else if (a == "--module") {
      if (!value(&v)) return sFail("--module needs a description of the module");
      qnsim::ModuleSpec spec;
      std::string error;
      if (!qnsim::ParseModuleSpec(v, &spec, &error)) return sFail("--module " + v + ": " + error);
      specs.push_back(spec);
    } else if (a == "--bind") {
      if (!value(&bind)) return sFail("--bind needs an address");
    } else if (a == "--env-file") {
      if (!value(&envFile)) return sFail("--env-file needs a path");
    } else {
      return sFail("unknown option " + a + " (see --help)");
    }
  }
  if (specs.empty()) return sFail("no module given (see --help)");

  // The stop signals stay blocked except inside sigsuspend below, so one
  // that comes before the wait begins is not lost.
  sigset_t stopSignals, waitMask;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = sOnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  qnsim::Simulator sim(bind);
  std::string error;
  auto report = [](const std::string& line) {
    printf("module-sim: %s\n", line.c_str());
    fflush(stdout);
  };
  if (!sim.Start(specs, report, &error)) return sFail(error);
  if (sim.bus() != nullptr) {
    const std::string env = std::string("LD_PRELOAD=") + qnsim::VirtualUsbBus::PreloadLibrary() +
                            " UMOCKDEV_DIR=" + sim.bus()->rootDir();
    report("usb-env " + env);
    if (!envFile.empty()) {
      FILE* f = fopen(envFile.c_str(), "w");
      if (f == nullptr) return sFail("cannot write " + envFile);
      fprintf(f, "export LD_PRELOAD=%s\nexport UMOCKDEV_DIR=%s\n", qnsim::VirtualUsbBus::PreloadLibrary(),
              sim.bus()->rootDir().c_str());
      fclose(f);
    }
  }
  report("ready");
  while (!sStop) sigsuspend(&waitMask);
  sim.Stop();
  return 0;
}

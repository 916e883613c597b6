// Linked into test programs whose code under test talks to the virtual USB
// bus in the same process: such a program must run inside umockdev's preload
// library, which has to be there from the start. A program started without
// it starts itself again with it, before any test runs.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/vusb/VirtualUsbBus.h"

namespace {

struct sUnderPreload {
  sUnderPreload() {
    const char* preload = getenv("LD_PRELOAD");
    if (preload && strstr(preload, "libumockdev-preload")) return;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    for (size_t at = 0; at < all.size();) {
      size_t end = all.find('\0', at);
      if (end == std::string::npos) end = all.size();
      args.push_back(all.substr(at, end - at));
      at = end + 1;
    }
    if (args.empty()) return;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string value = qnsim::VirtualUsbBus::PreloadLibrary();
    if (preload && *preload) value += std::string(":") + preload;
    setenv("LD_PRELOAD", value.c_str(), 1);
    // The sanitizers' runtime then no longer comes first; that is fine here.
    std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
    if (asan.find("verify_asan_link_order") == std::string::npos) {
      setenv("ASAN_OPTIONS", (asan.empty() ? "" : asan + ":").append("verify_asan_link_order=0").c_str(), 1);
    }
    execv("/proc/self/exe", argv.data());
    // Still here: the tests run without the bus and say so.
  }
};

sUnderPreload sStart;

}  // namespace

// Feeds arbitrary text to the attribute file reader, and checks that what it
// read survives being written in the store's own format and read again.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "store/KeyValueStore.h"

namespace {

// The reader opens files by path; a memory file keeps the fuzzer off the disk.
std::string sMemoryFile(const char* name, const void* data, size_t size) {
  static int fds[2] = {memfd_create("attributes-in", 0), memfd_create("attributes-out", 0)};
  int fd = fds[name[0] == 'o'];
  if (fd < 0) abort();
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) abort();
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  KeyValueStore store;
  if (store.Load(sMemoryFile("in", data, size).c_str()) != tErrNone) abort();

  std::string text;
  size_t longest = 0;
  for (const auto& entry : store.Entries()) {
    std::string line = entry.first + "=" + entry.second;
    longest = line.size() > longest ? line.size() : longest;
    text += line + "\n";
  }
  KeyValueStore reread;
  if (reread.Load(sMemoryFile("out", text.data(), text.size()).c_str()) != tErrNone) abort();

  // Every entry comes back, except keys that begin with '#' (a line such as
  // " #x=1" is a key after trimming, but written back it reads as a comment).
  // A key read from a line of 2047 characters without '=' grows past the
  // longest line the reader takes once written with its '=', and ends the
  // second reading early; such inputs check nothing more.
  if (longest <= 2047) {
    for (const auto& entry : store.Entries()) {
      if (entry.first[0] == '#') continue;
      const char* value = reread[entry.first.c_str()];
      if (!value || entry.second != value) abort();
    }
  }
  for (const auto& entry : reread.Entries())
    if (!store[entry.first.c_str()]) abort();

  store.GetInt("LATEST_DOWNLOAD", 0);
  store.GetHex("SERIAL", 0);
  store.GetDouble("RATE", 0);
  store.GetBOOL("FLAG", false);
  return 0;
}

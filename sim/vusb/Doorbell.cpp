#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // F_SETPIPE_SZ
#endif
#include "sim/vusb/Doorbell.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qnsim {

namespace {
constexpr int sPage = 4096;
}

Doorbell::~Doorbell() {
  if (fd_ >= 0) close(fd_);
}

bool Doorbell::Create(const std::string& path, std::string* error) {
  if (mkfifo(path.c_str(), 0666) != 0 && errno != EEXIST) {
    if (error) *error = "mkfifo " + path + ": " + strerror(errno);
    return false;
  }
  fd_ = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    if (error) *error = "open " + path + ": " + strerror(errno);
    return false;
  }
  // One page, so that a single write fills it and a single read empties it.
  fcntl(fd_, F_SETPIPE_SZ, sPage);
  rung_ = true;
  Quiet();
  return true;
}

void Doorbell::Ring() {
  if (fd_ < 0 || rung_) return;
  char buffer[sPage];
  while (read(fd_, buffer, sizeof buffer) > 0) {
  }
  rung_ = true;
}

void Doorbell::Quiet() {
  if (fd_ < 0 || !rung_) return;
  char buffer[sPage];
  memset(buffer, 0, sizeof buffer);
  while (write(fd_, buffer, sizeof buffer) > 0) {
  }
  rung_ = false;
}

}  // namespace qnsim

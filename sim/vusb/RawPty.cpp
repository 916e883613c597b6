#include "sim/vusb/RawPty.h"

#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <string.h>
#include <termios.h>

namespace qnsim {

bool OpenRawPty(int* master, int* slave, std::string* name, int readTimeoutTenths,
                std::string* error) {
  char path[128];
  if (openpty(master, slave, path, nullptr, nullptr) != 0) {
    if (error) *error = std::string("openpty: ") + strerror(errno);
    return false;
  }
  fcntl(*master, F_SETFD, FD_CLOEXEC);
  fcntl(*master, F_SETFL, fcntl(*master, F_GETFL) | O_NONBLOCK);
  fcntl(*slave, F_SETFD, FD_CLOEXEC);
  // Settings made through the master apply to the host's side.
  struct termios t;
  tcgetattr(*master, &t);
  cfmakeraw(&t);
  if (readTimeoutTenths >= 0) {
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = static_cast<cc_t>(readTimeoutTenths);
  }
  tcsetattr(*master, TCSANOW, &t);
  *name = path;
  return true;
}

}  // namespace qnsim

#include "sim/vusb/FdPump.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

namespace qnsim {

void PumpUntilWoken(int fd, int wakeFd, const std::function<void(const uint8_t* data, size_t length)>& chunk) {
  uint8_t buffer[512];
  for (;;) {
    struct pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) chunk(buffer, static_cast<size_t>(n));
  }
}

}  // namespace qnsim

// The kernel-driver path of the USB transport: the driver's character device
// "/dev/quillnode.<serial text>", read one byte at a time and written whole.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <unistd.h>

#include "sdk/core/tDebug.h"
#include "sdk/core/tTime.h"
#include "sdk/core/tUSB.h"

namespace {
constexpr int sMaxWriteCalls = 1000;
}

tErr qnusb_open_quillnode_kernel_device(qnusb_device* r, const char* serialText) {
  if (r == nullptr || serialText == nullptr) return tErrParam;
  if (r->mode != QNUSB_MODE_KERNEL) return tErrMode;
  snprintf(r->serial, sizeof r->serial, "%s", serialText);
  char path[300];
  snprintf(path, sizeof path, "/dev/quillnode.%s", serialText);
  const int fd = open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    tDebug_Print(tDEBUG_USB, "qnusb: open %s failed: %d\n", path, e);
    return e == EBUSY ? tErrBusy : tErrIO;
  }
  r->descriptor = fd;
  r->state = QNUSB_STATE_OPEN;
  return tErrNone;
}

tErr qnusb_write_to_kernel_device(qnusb_device* r, const uint8_t* data, uint32_t length) {
  if (r == nullptr || data == nullptr) return tErrParam;
  if (r->mode != QNUSB_MODE_KERNEL || r->descriptor < 0) return tErrMode;
  uint32_t done = 0;
  for (int calls = 0; done < length && calls < sMaxWriteCalls; calls++) {
    const ssize_t n = write(r->descriptor, data + done, length - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return tErrIO;
    }
    done += static_cast<uint32_t>(n);
  }
  return done < length ? tErrIO : tErrNone;
}

tErr qnusb_get_from_kernel_device(qnusb_device* r, uint8_t* byte) {
  if (r == nullptr || byte == nullptr) return tErrParam;
  if (r->mode != QNUSB_MODE_KERNEL || r->descriptor < 0) return tErrMode;
  const ssize_t n = read(r->descriptor, byte, 1);
  if (n == 1) return tErrNone;
  if (n == 0) return tErrNotReady;
  // An interrupted or non-blocking read had nothing yet; only a real failure
  // of the driver is an I/O error.
  if (errno == EFAULT || errno == EINTR || errno == EAGAIN) return tErrNotReady;
  return tErrIO;
}

tErr qnusb_wait_kernel_device(qnusb_device* r, uint32_t timeoutMs) {
  if (r == nullptr || r->mode != QNUSB_MODE_KERNEL || r->descriptor < 0) return tErrMode;
  const uint64_t start = tTime_GetMonotonicMSTicks();
  struct pollfd p = {r->descriptor, POLLIN, 0};
  const int n = poll(&p, 1, static_cast<int>(timeoutMs));
  if (n < 0) return errno == EINTR ? tErrTimeout : tErrIO;
  if (n == 0) return tErrTimeout;
  if ((p.revents & (POLLHUP | POLLERR)) != 0) {
    // A node that hung up (its module gone) polls ready for ever while every
    // read gives nothing: idle out the wait so a reader does not spin on it.
    const uint64_t spent = tTime_GetMonotonicMSTicks() - start;
    if (spent < timeoutMs) tTime_MSSleep(static_cast<uint32_t>(timeoutMs - spent));
    return tErrTimeout;
  }
  return tErrNone;
}

tErr qnusb_close_quillnode_kernel_device(qnusb_device* r) {
  if (r == nullptr) return tErrParam;
  if (r->mode != QNUSB_MODE_KERNEL || r->descriptor < 0) return tErrMode;
  if (close(r->descriptor) != 0) return tErrCancel;
  r->descriptor = -1;
  r->state = QNUSB_STATE_CLOSED;
  return tErrNone;
}

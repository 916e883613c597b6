#include "sim/vusb/KernelNode.h"

#include "sim/vusb/FdPump.h"
#include "sim/vusb/RawPty.h"

#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

namespace qnsim {

KernelNode::KernelNode(std::string devnode, UsbFunction* function)
    : devnode_(std::move(devnode)), function_(function) {}

KernelNode::~KernelNode() { Remove(); }

bool KernelNode::Create(const std::string& rootDir, std::string* error) {
  // A host that stops reading must not stall the module: what does not fit
  // the node's buffer is dropped, as a driver's full receive buffer drops it.
  // A read on the node returns after at most one second.
  std::string name;
  if (!OpenRawPty(&master_, &slave_, &name, 10, error)) return false;

  nodePath_ = rootDir + devnode_;
  unlink(nodePath_.c_str());
  if (symlink(name.c_str(), nodePath_.c_str()) != 0) {
    if (error) *error = "symlink " + nodePath_ + ": " + strerror(errno);
    return false;
  }
  if (pipe2(wake_, O_CLOEXEC) != 0) {
    if (error) *error = std::string("pipe: ") + strerror(errno);
    return false;
  }
  running_ = true;
  thread_ = std::thread(&KernelNode::Run, this);
  return true;
}

void KernelNode::ToHost(const uint8_t* data, size_t length) {
  while (length > 0 && master_ >= 0) {
    ssize_t n = write(master_, data, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // EAGAIN: full, dropped
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
}

void KernelNode::Remove() {
  if (running_.exchange(false)) {
    char c = 0;
    (void)!write(wake_[1], &c, 1);
    thread_.join();
  }
  if (!nodePath_.empty()) {
    unlink(nodePath_.c_str());
    nodePath_.clear();
  }
  for (int* fd : {&master_, &slave_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void KernelNode::Run() {
  PumpUntilWoken(master_, wake_[0], [this](const uint8_t* data, size_t length) { function_->FromHost(data, length); });
}

}  // namespace qnsim

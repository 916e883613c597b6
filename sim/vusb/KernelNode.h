// The kernel driver's character device "/dev/quillnode.SSSSSSSS" of a module,
// inside the umockdev testbed. The node is a pseudo-terminal in raw mode whose
// far end the simulator holds: the host opens it, writes packets and reads
// them byte by byte, as through the driver. Like the driver, a read waits at
// most one second for a byte and then returns 0, so an idle host sleeps in
// read instead of spinning and still notices a stop.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <string>
#include <thread>

#include "sim/vusb/UsbfsDevice.h"

namespace qnsim {

class KernelNode {
 public:
  KernelNode(std::string devnode, UsbFunction* function);
  ~KernelNode();
  KernelNode(const KernelNode&) = delete;
  KernelNode& operator=(const KernelNode&) = delete;

  // Makes the node inside the testbed's root and starts serving it.
  bool Create(const std::string& rootDir, std::string* error);
  // Bytes for the host to read.
  void ToHost(const uint8_t* data, size_t length);
  // Stops serving and removes the node.
  void Remove();

  const std::string& devnode() const { return devnode_; }

 private:
  void Run();

  const std::string devnode_;
  UsbFunction* const function_;
  std::string nodePath_;
  int master_ = -1;
  int slave_ = -1;       // held so the master never sees a hang-up between hosts
  int wake_[2] = {-1, -1};
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace qnsim

// A virtual USB bus: a umockdev testbed holding module devices (sysfs entries,
// descriptors and a usbfs node each) and kernel-driver nodes. A program that
// runs with the testbed's environment (ClientEnvironment: the umockdev preload
// library and UMOCKDEV_DIR) sees these devices as real ones through libusb,
// libudev and /dev; the testbed's own thread answers their ioctls.
//
// Unplugging takes a device off the bus (its clients then get ENODEV);
// plugging the same identity in again is a re-enumeration with a new device
// number, as after a module reboots.
#pragma once

#include <stdint.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/vusb/KernelNode.h"
#include "sim/vusb/UsbDescriptors.h"
#include "sim/vusb/UsbfsDevice.h"

namespace qnsim {

class VirtualUsbBus {
 public:
  VirtualUsbBus();
  ~VirtualUsbBus();
  VirtualUsbBus(const VirtualUsbBus&) = delete;
  VirtualUsbBus& operator=(const VirtualUsbBus&) = delete;

  // The testbed's root directory (the value of UMOCKDEV_DIR).
  const std::string& rootDir() const { return root_; }
  // Variables a client process needs to see the bus.
  std::map<std::string, std::string> ClientEnvironment() const;
  static const char* PreloadLibrary();

  // Adds a device; null on failure with the reason in *error. The device
  // stays valid until the bus is destroyed, also after Unplug.
  UsbfsDevice* Plug(const UsbIdentity& identity, UsbFunction* function, std::string* error);
  void Unplug(UsbfsDevice* device);

  // Adds "/dev/quillnode.<serial text>"; null on failure.
  KernelNode* AddKernelNode(const std::string& serialText, UsbFunction* function, std::string* error);
  void RemoveKernelNode(KernelNode* node);

 private:
  struct Entry {
    std::unique_ptr<UsbfsDevice> device;
    std::string syspath;
    bool plugged = false;
  };

  struct _UMockdevTestbed* testbed_ = nullptr;
  std::string root_;
  std::mutex mutex_;
  int nextDeviceNumber_ = 2;  // 1 would be the root hub
  std::vector<Entry> devices_;
  std::vector<std::unique_ptr<KernelNode>> nodes_;
};

}  // namespace qnsim

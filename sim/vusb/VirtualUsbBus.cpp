#include "sim/vusb/VirtualUsbBus.h"

#include <stdio.h>
#include <umockdev.h>

namespace qnsim {

namespace {
constexpr int sBus = 1;
constexpr int sUsbDeviceMajor = 189;
}  // namespace

VirtualUsbBus::VirtualUsbBus() {
  testbed_ = umockdev_testbed_new();
  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  root_ = root;
  g_free(root);
}

VirtualUsbBus::~VirtualUsbBus() {
  // The handlers first, while the testbed still serves their clients: the
  // clients' transfers end, then the testbed's thread, which may be inside
  // a device's handler right now, calls no device any more.
  nodes_.clear();
  for (auto& e : devices_) {
    if (e.plugged) e.device->Disconnect();
    e.device->Detach();
  }
  g_object_unref(testbed_);  // removes the testbed's directory
  devices_.clear();
}

const char* VirtualUsbBus::PreloadLibrary() { return "libumockdev-preload.so.0"; }

std::map<std::string, std::string> VirtualUsbBus::ClientEnvironment() const {
  return {{"LD_PRELOAD", PreloadLibrary()}, {"UMOCKDEV_DIR", root_}};
}

UsbfsDevice* VirtualUsbBus::Plug(const UsbIdentity& identity, UsbFunction* function, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int number = nextDeviceNumber_++;
  char name[32], devnode[64], busnum[16], devnum[16], major[16];
  snprintf(name, sizeof name, "%d-%d", sBus, number - 1);
  snprintf(devnode, sizeof devnode, "/dev/bus/usb/%03d/%03d", sBus, number);
  snprintf(busnum, sizeof busnum, "%03d", sBus);
  snprintf(devnum, sizeof devnum, "%03d", number);
  snprintf(major, sizeof major, "%d:%d", sUsbDeviceMajor, number - 1);

  auto device = std::make_unique<UsbfsDevice>(identity, function, devnode);
  std::vector<uint8_t> descriptors = DeviceDescriptor(identity);
  const std::vector<uint8_t> config = ConfigurationDescriptor(identity);
  descriptors.insert(descriptors.end(), config.begin(), config.end());

  // One paragraph in umockdev's record format, so that the sysfs entry is
  // complete, descriptors included, before its "add" uevent goes out: a
  // hot-plug listener (libusb's udev monitor) reads it at once.
  char line[256];
  std::string record = std::string("P: /devices/") + name + "\n";
  auto add = [&](const char* format, auto... args) {
    snprintf(line, sizeof line, format, args...);
    record += line;
  };
  add("E: SUBSYSTEM=usb\nE: DEVNAME=%s\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n", devnode);
  add("E: BUSNUM=%s\nE: DEVNUM=%s\nE: PRODUCT=%x/%x/%x\nE: TYPE=0/0/0\n", busnum, devnum, identity.vendorId,
      identity.productId, identity.deviceRelease);
  // sysfs attributes as the kernel shows them, each with its newline
  add("A: busnum=%d\\n\nA: devnum=%d\\n\nA: speed=480\\n\nA: dev=%s\n", sBus, number, major);
  add("A: bConfigurationValue=1\\n\nA: bNumConfigurations=1\\n\nA: bNumInterfaces= 1\\n\n");
  add("A: bDeviceClass=00\\n\nA: version= 2.00\\n\n");
  add("A: idVendor=%04x\\n\nA: idProduct=%04x\\n\nA: bcdDevice=%04x\\n\n", identity.vendorId,
      identity.productId, identity.deviceRelease);
  record += "A: manufacturer=" + identity.manufacturer + "\\n\n";
  record += "A: product=" + identity.product + "\\n\n";
  record += "A: serial=" + identity.serial + "\\n\n";
  record += "H: descriptors=";
  for (uint8_t b : descriptors) {
    snprintf(line, sizeof line, "%02X", b);
    record += line;
  }
  record += "\n";
  GError* gerror = nullptr;
  if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &gerror)) {
    if (error) *error = std::string("umockdev could not add the device: ") + (gerror ? gerror->message : "?");
    if (gerror) g_error_free(gerror);
    return nullptr;
  }
  const std::string sysfsPath = std::string("/sys/devices/") + name;
  gchar* syspath = g_strdup(sysfsPath.c_str());
  if (!device->Attach(testbed_, root_, error)) {
    umockdev_testbed_remove_device(testbed_, syspath);
    g_free(syspath);
    return nullptr;
  }
  Entry e;
  e.syspath = syspath;
  g_free(syspath);
  e.plugged = true;
  e.device = std::move(device);
  devices_.push_back(std::move(e));
  return devices_.back().device.get();
}

void VirtualUsbBus::Unplug(UsbfsDevice* device) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& e : devices_) {
    if (e.device.get() != device || !e.plugged) continue;
    e.plugged = false;
    device->Disconnect();
    // Takes the sysfs entry, the node and the udev data away and sends the
    // "remove" uevent. The ioctl handler stays attached, so clients that
    // still hold the node keep getting ENODEV rather than losing the line.
    umockdev_testbed_remove_device(testbed_, e.syspath.c_str());
  }
}

KernelNode* VirtualUsbBus::AddKernelNode(const std::string& serialText, UsbFunction* function,
                                         std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto node = std::make_unique<KernelNode>("/dev/quillnode." + serialText, function);
  g_mkdir_with_parents((root_ + "/dev").c_str(), 0755);
  if (!node->Create(root_, error)) return nullptr;
  nodes_.push_back(std::move(node));
  return nodes_.back().get();
}

void VirtualUsbBus::RemoveKernelNode(KernelNode* node) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& n : nodes_) {
    if (n.get() == node) n->Remove();
  }
}

}  // namespace qnsim

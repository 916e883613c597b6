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
  // The handlers first, while the testbed still serves their clients.
  nodes_.clear();
  for (auto& e : devices_) {
    if (e.plugged) e.device->Disconnect();
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
  const std::string serial = identity.serial + "\n";
  const std::string manufacturer = identity.manufacturer + "\n";
  const std::string product = identity.product + "\n";
  char vendorId[16], productId[16], release[16], product3[32];
  snprintf(vendorId, sizeof vendorId, "%04x\n", identity.vendorId);
  snprintf(productId, sizeof productId, "%04x\n", identity.productId);
  snprintf(release, sizeof release, "%04x\n", identity.deviceRelease);
  snprintf(product3, sizeof product3, "%x/%x/%x", identity.vendorId, identity.productId, identity.deviceRelease);
  std::string busAttr = std::to_string(sBus) + "\n", devAttr = std::to_string(number) + "\n";

  gchar* syspath = umockdev_testbed_add_device(
      testbed_, "usb", name, nullptr,
      // sysfs attributes, as the kernel shows them (with their newline)
      "busnum", busAttr.c_str(), "devnum", devAttr.c_str(), "speed", "480\n",
      "bConfigurationValue", "1\n", "bNumConfigurations", "1\n", "bNumInterfaces", " 1\n",
      "bDeviceClass", "00\n", "version", " 2.00\n", "idVendor", vendorId, "idProduct", productId,
      "bcdDevice", release, "manufacturer", manufacturer.c_str(), "product", product.c_str(),
      "serial", serial.c_str(), "dev", major, nullptr,
      // udev properties
      "DEVNAME", devnode, "DEVTYPE", "usb_device", "DRIVER", "usb", "BUSNUM", busnum, "DEVNUM", devnum,
      "PRODUCT", product3, "TYPE", "0/0/0", nullptr);
  if (!syspath) {
    if (error) *error = "umockdev could not add the device";
    return nullptr;
  }
  std::vector<uint8_t> descriptors = DeviceDescriptor(identity);
  const std::vector<uint8_t> config = ConfigurationDescriptor(identity);
  descriptors.insert(descriptors.end(), config.begin(), config.end());
  umockdev_testbed_set_attribute_binary(testbed_, syspath, "descriptors", descriptors.data(),
                                        static_cast<gint>(descriptors.size()));
  if (!device->Attach(testbed_, root_, error)) {
    umockdev_testbed_remove_device(testbed_, syspath);
    g_free(syspath);
    return nullptr;
  }
  // The "add" uevent of umockdev_testbed_add_device went out before the
  // descriptors and the node existed; a hot-plug listener (libusb's udev
  // monitor) that read the device then found it incomplete and dropped it.
  // Now that it is whole, announce it again.
  umockdev_testbed_uevent(testbed_, syspath, "add");
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

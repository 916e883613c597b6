// The descriptors a virtual module shows on USB: one configuration with the
// module's vendor-specific interface (class 0xFF, subclass 0x88, protocol
// 0x10) and its bulk endpoints, and the string descriptors, the serial number
// among them.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace qnsim {

struct UsbIdentity {
  uint16_t vendorId = 0x24FF;
  uint16_t productId = 0x0011;  // the module's model code in the low byte
  uint16_t deviceRelease = 0x0100;
  std::string manufacturer = "Telvicor";
  std::string product = "Quillnode module";
  std::string serial;           // eight upper-case hexadecimal digits
  uint16_t maxPacketSize = 512; // both bulk endpoints (high speed)
  bool hasInEndpoint = true;    // bulk IN, address 0x81
  bool hasOutEndpoint = true;   // bulk OUT, address 0x02
};

constexpr uint8_t kUsbInEndpoint = 0x81;
constexpr uint8_t kUsbOutEndpoint = 0x02;
constexpr uint8_t kUsbInterfaceClass = 0xFF;
constexpr uint8_t kUsbInterfaceSubClass = 0x88;
constexpr uint8_t kUsbInterfaceProtocol = 0x10;

// The 18-byte device descriptor.
std::vector<uint8_t> DeviceDescriptor(const UsbIdentity& id);
// Configuration 0 with its interface and endpoint descriptors.
std::vector<uint8_t> ConfigurationDescriptor(const UsbIdentity& id);
// String descriptor `index`: 0 is the language list (US English), 1 the
// manufacturer, 2 the product, 3 the serial number. Empty for any other.
std::vector<uint8_t> StringDescriptor(const UsbIdentity& id, uint8_t index);

}  // namespace qnsim

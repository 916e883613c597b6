#include "sim/vusb/UsbDescriptors.h"

namespace qnsim {

namespace {

constexpr uint8_t sManufacturerIndex = 1;
constexpr uint8_t sProductIndex = 2;
constexpr uint8_t sSerialIndex = 3;

void sPut16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(v & 0xFF);  // USB descriptors are little-endian
  out.push_back(v >> 8);
}

void sEndpoint(std::vector<uint8_t>& out, uint8_t address, uint16_t maxPacket) {
  out.insert(out.end(), {7, 5, address, 0x02 /* bulk */});
  sPut16(out, maxPacket);
  out.push_back(0);  // bInterval
}

}  // namespace

std::vector<uint8_t> DeviceDescriptor(const UsbIdentity& id) {
  std::vector<uint8_t> d = {18, 1};
  sPut16(d, 0x0200);          // USB 2.0
  d.insert(d.end(), {0, 0, 0, 64});  // class per interface, ep0 max packet 64
  sPut16(d, id.vendorId);
  sPut16(d, id.productId);
  sPut16(d, id.deviceRelease);
  d.insert(d.end(), {sManufacturerIndex, sProductIndex, sSerialIndex, 1});
  return d;
}

std::vector<uint8_t> ConfigurationDescriptor(const UsbIdentity& id) {
  const uint8_t endpoints = (id.hasInEndpoint ? 1 : 0) + (id.hasOutEndpoint ? 1 : 0);
  const uint16_t total = 9 + 9 + 7 * endpoints;
  std::vector<uint8_t> d = {9, 2};
  sPut16(d, total);
  d.insert(d.end(), {1, 1, 0, 0x80, 50});  // 1 interface, value 1, bus powered, 100 mA
  d.insert(d.end(), {9, 4, 0, 0, endpoints, kUsbInterfaceClass, kUsbInterfaceSubClass,
                     kUsbInterfaceProtocol, 0});
  if (id.hasInEndpoint) sEndpoint(d, kUsbInEndpoint, id.maxPacketSize);
  if (id.hasOutEndpoint) sEndpoint(d, kUsbOutEndpoint, id.maxPacketSize);
  return d;
}

std::vector<uint8_t> StringDescriptor(const UsbIdentity& id, uint8_t index) {
  if (index == 0) return {4, 3, 0x09, 0x04};
  const std::string* text = nullptr;
  switch (index) {
    case sManufacturerIndex: text = &id.manufacturer; break;
    case sProductIndex: text = &id.product; break;
    case sSerialIndex: text = &id.serial; break;
    default: return {};
  }
  std::vector<uint8_t> d;
  const size_t chars = text->size() > 126 ? 126 : text->size();
  d.push_back(static_cast<uint8_t>(2 + 2 * chars));
  d.push_back(3);
  for (size_t i = 0; i < chars; ++i) {
    d.push_back(static_cast<uint8_t>((*text)[i]));  // UTF-16LE of ASCII text
    d.push_back(0);
  }
  return d;
}

}  // namespace qnsim

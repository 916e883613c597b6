// The process-wide libusb context and the module test that the transport and
// discovery share.
#include <libusb.h>

#include <mutex>

#include "sdk/core/tDebug.h"
#include "sdk/core/tUSB.h"

namespace {

std::mutex sContextMutex;
libusb_context* sContext = nullptr;

}  // namespace

libusb_context* Quillnode_libusb_context(void) {
  std::lock_guard<std::mutex> lock(sContextMutex);
  if (sContext == nullptr) {
    int r = libusb_init(&sContext);
    if (r != 0) {
      tDebug_Print(tDEBUG_USB, "libusb_init failed: %d\n", r);
      sContext = nullptr;
    }
  }
  return sContext;
}

libusb_context* Quillnode_libusb_init(void) { return Quillnode_libusb_context(); }

void Quillnode_libusb_exit(void) {
  std::lock_guard<std::mutex> lock(sContextMutex);
  if (sContext != nullptr) libusb_exit(sContext);
  sContext = nullptr;
}

bool is_quillnode_device(libusb_device* device) {
  struct libusb_device_descriptor d;
  if (device == nullptr || libusb_get_device_descriptor(device, &d) != 0) return false;
  return d.idVendor == QNUSB_VENDOR_ID && (d.idProduct & 0x8000) == 0;
}

tErr find_usb_endpoints(qnusb_device* record, libusb_device* device) {
  struct libusb_config_descriptor* config = nullptr;
  if (record == nullptr || libusb_get_config_descriptor(device, 0, &config) != 0 || config == nullptr) {
    return tErrConfiguration;
  }
  bool haveIn = false, haveOut = false;
  for (int i = 0; i < config->bNumInterfaces; i++) {
    const struct libusb_interface& itf = config->interface[i];
    for (int a = 0; a < itf.num_altsetting; a++) {
      const struct libusb_interface_descriptor& s = itf.altsetting[a];
      if (s.bInterfaceClass != QNUSB_INTERFACE_CLASS || s.bInterfaceSubClass != QNUSB_INTERFACE_SUBCLASS ||
          s.bInterfaceProtocol != QNUSB_INTERFACE_PROTOCOL) {
        continue;
      }
      record->interfaceNumber = s.bInterfaceNumber;
      for (int e = 0; e < s.bNumEndpoints; e++) {
        const struct libusb_endpoint_descriptor& ep = s.endpoint[e];
        if ((ep.bmAttributes & 0x02) == 0) continue;  // bulk or interrupt only
        if (ep.bEndpointAddress & 0x80) {
          record->inEndpoint = ep.bEndpointAddress;
          record->inMaxPacket = ep.wMaxPacketSize;
          haveIn = true;
        } else {
          record->outEndpoint = ep.bEndpointAddress;
          record->outMaxPacket = ep.wMaxPacketSize;
          haveOut = true;
        }
      }
    }
  }
  libusb_free_config_descriptor(config);
  return haveIn && haveOut ? tErrNone : tErrConfiguration;
}

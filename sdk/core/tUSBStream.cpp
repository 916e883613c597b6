// USB device records, the dispatch between the two paths, and the USB stream
// over them.
#include <stdio.h>
#include <stdlib.h>

#include "sdk/core/tDebug.h"
#include "sdk/core/tUSB.h"
#include "store/tFile.h"

namespace {

struct sUSBStreamState {
  uint32_t serialNumber;
  qnusb_device* device;
  uint16_t check;  // tUSBSTREAMCHECK in a live state
};

bool tVALIDUSBS(const void* ref) {
  return ref != nullptr && static_cast<const sUSBStreamState*>(ref)->check == tUSBSTREAMCHECK;
}

tErr sUSBStreamGet(uint8_t* byte, void* ref) {
  if (!tVALIDUSBS(ref)) return tErrParam;
  return qnusb_get_from_device(static_cast<sUSBStreamState*>(ref)->device, byte);
}

tErr sUSBStreamWrite(const uint8_t* data, uint32_t length, void* ref) {
  if (!tVALIDUSBS(ref)) return tErrParam;
  return qnusb_write_to_device(static_cast<sUSBStreamState*>(ref)->device, data, length);
}

tErr sUSBStreamPut(const uint8_t* byte, void* ref) { return sUSBStreamWrite(byte, 1, ref); }

// The kernel node is polled, so an idle reader sleeps in the poll. (The
// libusb path has no wait: each get waits up to a second in its transfer.)
tErr sUSBStreamWait(uint32_t timeoutMs, void* ref) {
  if (!tVALIDUSBS(ref)) return tErrParam;
  return qnusb_wait_kernel_device(static_cast<sUSBStreamState*>(ref)->device, timeoutMs);
}

tErr sUSBStreamDelete(void* ref) {
  if (!tVALIDUSBS(ref)) return tErrParam;
  auto* s = static_cast<sUSBStreamState*>(ref);
  const tErr closed = qnusb_close_quillnode_device(s->device);
  if (closed != tErrNone) return closed;
  qnusb_destroy(&s->device);
  s->check = 0;
  free(s);
  return tErrNone;
}

}  // namespace

qnusb_device* qnusb_create_usb(int mode) {
  if (mode == QNUSB_MODE_LIBUSB && Quillnode_libusb_context() == nullptr) return nullptr;
  auto* r = static_cast<qnusb_device*>(calloc(1, sizeof(qnusb_device)));
  if (r == nullptr) return nullptr;
  r->mode = mode;
  r->state = QNUSB_STATE_CREATED;
  r->descriptor = -1;
  r->readPosition = r->readBuffer;
  return r;
}

tErr qnusb_destroy(qnusb_device** record) {
  if (record == nullptr || *record == nullptr) return tErrParam;
  qnusb_device* r = *record;
  if (r->mode == QNUSB_MODE_LIBUSB && r->handle != nullptr) qnusb_close_quillnode_USBlib_device(r);
  if (r->mode == QNUSB_MODE_KERNEL && r->descriptor >= 0) qnusb_close_quillnode_kernel_device(r);
  free(r);
  *record = nullptr;
  return tErrNone;
}

tErr qnusb_open_quillnode_device(qnusb_device* r, const char* serialText) {
  if (r == nullptr) return tErrParam;
  return r->mode == QNUSB_MODE_LIBUSB ? qnusb_open_quillnode_USBlib_device(r, serialText)
                                      : qnusb_open_quillnode_kernel_device(r, serialText);
}

tErr qnusb_write_to_device(qnusb_device* r, const uint8_t* data, uint32_t length) {
  if (r == nullptr) return tErrParam;
  return r->mode == QNUSB_MODE_LIBUSB ? qnusb_write_to_USBlib_device(r, data, length)
                                      : qnusb_write_to_kernel_device(r, data, length);
}

tErr qnusb_get_from_device(qnusb_device* r, uint8_t* byte) {
  if (r == nullptr) return tErrParam;
  return r->mode == QNUSB_MODE_LIBUSB ? qnusb_get_from_USBlib_device(r, byte)
                                      : qnusb_get_from_kernel_device(r, byte);
}

tErr qnusb_close_quillnode_device(qnusb_device* r) {
  if (r == nullptr) return tErrParam;
  return r->mode == QNUSB_MODE_LIBUSB ? qnusb_close_quillnode_USBlib_device(r)
                                      : qnusb_close_quillnode_kernel_device(r);
}

bool qnusb_is_kernel_driver_installed(uint32_t serialNumber) {
  char path[64];
  snprintf(path, sizeof path, QNUSB_KERNEL_NODE_FORMAT, serialNumber);
  return tFile_Exists(path);
}

tErr tStream_CreateUSB(uint32_t serialNumber, tStream** out) {
  if (out == nullptr) return tErrParam;
  *out = nullptr;
  if (serialNumber == 0) return tErrParam;
  const int mode = qnusb_is_kernel_driver_installed(serialNumber) ? QNUSB_MODE_KERNEL : QNUSB_MODE_LIBUSB;
  auto* s = static_cast<sUSBStreamState*>(calloc(1, sizeof(sUSBStreamState)));
  if (s == nullptr) return tErrMemory;
  s->serialNumber = serialNumber;
  s->check = tUSBSTREAMCHECK;
  char text[16];
  snprintf(text, sizeof text, "%08X", serialNumber);
  s->device = qnusb_create_usb(mode);
  if (s->device == nullptr) {
    free(s);
    return tErrResource;
  }
  const tErr opened = qnusb_open_quillnode_device(s->device, text);
  if (opened != tErrNone) {
    qnusb_destroy(&s->device);
    free(s);
    return opened;
  }
  tStream* stream = tStream_Create(sUSBStreamGet, sUSBStreamPut, sUSBStreamWrite, sUSBStreamDelete, s);
  if (stream == nullptr) {
    qnusb_destroy(&s->device);
    free(s);
    return tErrMemory;
  }
  // Only the kernel node is waited on; a libusb get paces itself, and a
  // stream without a wait function tells its reader so.
  if (mode == QNUSB_MODE_KERNEL) tStream_SetWaitProc(stream, sUSBStreamWait);
  *out = stream;
  tDebug_Print(tDEBUG_USB, "tStream_CreateUSB %s: %s path\n", text, mode == QNUSB_MODE_KERNEL ? "kernel" : "libusb");
  return tErrNone;
}

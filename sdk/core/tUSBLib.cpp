// The libusb path of the USB transport: open by serial number, bulk writes
// in chunks, bulk reads through a 1024-byte buffer, and the tolerance for
// isolated I/O errors.
#include <libusb.h>
#include <stdio.h>
#include <string.h>

#include "sdk/core/tDebug.h"
#include "sdk/core/tUSB.h"

namespace {

// The link's reader (get) and writer (write) share the state and the error
// count of one record, so those two fields are read and written atomically.
int sState(const qnusb_device* r) { return __atomic_load_n(&r->state, __ATOMIC_RELAXED); }

// Every libusb-path read and write ends here. Up to four tErrIO in a row are
// forgiven (a write then reports success, a read "no byte yet"); the fifth
// marks the device failed.
tErr _handleErrorTolerance(qnusb_device* r, tErr result, bool isRead) {
  if (result != tErrIO) {
    __atomic_store_n(&r->errorCount, 0, __ATOMIC_RELAXED);
    return result;
  }
  uint8_t before = __atomic_load_n(&r->errorCount, __ATOMIC_RELAXED);
  while (before < 255 && !__atomic_compare_exchange_n(&r->errorCount, &before, static_cast<uint8_t>(before + 1),
                                                       false, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
  }
  if (before < QNUSB_FORGIVEN_IO_ERRORS) {
    tDebug_Print(tDEBUG_USB, "qnusb %s: I/O error %u forgiven\n", r->serial, before + 1u);
    return isRead ? tErrNotReady : tErrNone;
  }
  tDebug_Print(tDEBUG_USB, "qnusb %s: failed after %u I/O errors\n", r->serial, before + 1u);
  __atomic_store_n(&r->state, QNUSB_STATE_FAILED, __ATOMIC_RELAXED);
  return tErrIO;
}

tErr sClaimError(int r) {
  switch (r) {
    case LIBUSB_ERROR_BUSY:
    case LIBUSB_ERROR_NO_DEVICE:
      return tErrBusy;
    case LIBUSB_ERROR_ACCESS:
      return tErrPermission;
    default:
      return tErrUnknown;
  }
}

}  // namespace

tErr qnusb_open_quillnode_USBlib_device(qnusb_device* r, const char* serialText) {
  if (r == nullptr || serialText == nullptr) return tErrParam;
  if (r->mode != QNUSB_MODE_LIBUSB) return tErrMode;
  if (r->state == 0) return tErrResource;
  libusb_context* ctx = Quillnode_libusb_context();
  if (ctx == nullptr) return tErrInitialization;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(ctx, &list);
  if (count < 0) return tErrNotFound;

  tErr result = tErrNotFound;
  for (ssize_t i = 0; i < count; i++) {
    libusb_device* device = list[i];
    if (!is_quillnode_device(device)) continue;
    libusb_device_handle* handle = nullptr;
    if (libusb_open(device, &handle) != 0) continue;
    struct libusb_device_descriptor d;
    unsigned char text[256];
    memset(text, 0, sizeof text);
    if (libusb_get_device_descriptor(device, &d) != 0 ||
        libusb_get_string_descriptor_ascii(handle, d.iSerialNumber, text, sizeof text - 1) <= 0 ||
        strcmp(reinterpret_cast<const char*>(text), serialText) != 0) {
      libusb_close(handle);
      continue;
    }
    snprintf(r->serial, sizeof r->serial, "%s", serialText);
    r->handle = handle;
    r->state = QNUSB_STATE_OPENING;
    result = find_usb_endpoints(r, device);
    if (result == tErrNone) {
      const int claim = libusb_claim_interface(handle, r->interfaceNumber);
      if (claim == 0) {
        r->state = QNUSB_STATE_OPEN;
        r->errorCount = 0;
        r->available = 0;
        r->readPosition = r->readBuffer;
        tDebug_Print(tDEBUG_USB, "qnusb %s: open, interface %u, IN 0x%02X/%u OUT 0x%02X/%u\n", r->serial,
                     r->interfaceNumber, r->inEndpoint, r->inMaxPacket, r->outEndpoint, r->outMaxPacket);
        break;
      }
      result = sClaimError(claim);
    }
    tDebug_Print(tDEBUG_USB, "qnusb %s: open failed: %d\n", serialText, result);
    r->state = QNUSB_STATE_CLOSED;
    libusb_close(handle);
    r->handle = nullptr;
    break;
  }
  libusb_free_device_list(list, 1);
  return result;
}

tErr qnusb_write_to_USBlib_device(qnusb_device* r, const uint8_t* data, uint32_t length) {
  if (r == nullptr || data == nullptr) return tErrParam;
  if (r->mode != QNUSB_MODE_LIBUSB) return tErrMode;
  switch (sState(r)) {
    case QNUSB_STATE_CREATED:
    case QNUSB_STATE_OPENING: return tErrNotReady;
    case QNUSB_STATE_CLOSED: return tErrConnection;
    case QNUSB_STATE_OPEN: break;
    default: return tErrIO;
  }
  tErr result = tErrNone;
  uint32_t sent = 0;
  int failures = 0;
  while (sent < length && failures < QNUSB_WRITE_ATTEMPTS) {
    uint32_t chunk = length - sent;
    if (r->outMaxPacket > 0 && chunk > r->outMaxPacket) chunk = r->outMaxPacket;
    if (chunk == 512) chunk = 511;  // never a full 512-byte packet
    int transferred = 0;
    const int e = libusb_bulk_transfer(r->handle, r->outEndpoint, const_cast<uint8_t*>(data + sent),
                                       static_cast<int>(chunk), &transferred, QNUSB_WRITE_TIMEOUT_MS);
    // Bytes the device took are never sent again, also when the transfer as
    // a whole failed (a timeout after part of the chunk went out).
    if (transferred > 0) sent += static_cast<uint32_t>(transferred);
    if (e == 0) continue;
    failures++;
    if (e == LIBUSB_ERROR_PIPE && libusb_clear_halt(r->handle, r->outEndpoint) != 0) {
      result = tErrIO;
      break;
    }
  }
  if (result == tErrNone && sent < length) result = tErrWrite;
  return _handleErrorTolerance(r, result, false);
}

tErr qnusb_get_from_USBlib_device(qnusb_device* r, uint8_t* byte) {
  if (r == nullptr || byte == nullptr) return tErrParam;
  if (r->mode != QNUSB_MODE_LIBUSB) return tErrMode;
  if (r->available > 0) {
    *byte = *r->readPosition++;
    r->available--;
    return tErrNone;
  }
  switch (sState(r)) {
    case QNUSB_STATE_CLOSED: return tErrConnection;
    case QNUSB_STATE_CREATED:
    case QNUSB_STATE_OPENING: return tErrNotReady;
    case QNUSB_STATE_OPEN: break;
    default: return tErrIO;
  }
  int transferred = 0;
  const int e = libusb_bulk_transfer(r->handle, r->inEndpoint, r->readBuffer, sizeof r->readBuffer,
                                     &transferred, QNUSB_READ_TIMEOUT_MS);
  tErr result = tErrNone;
  if (e == LIBUSB_ERROR_PIPE) {
    libusb_clear_halt(r->handle, r->inEndpoint);
    result = tErrNotReady;
  } else if (e == LIBUSB_ERROR_TIMEOUT) {
    result = transferred > 0 ? tErrNone : tErrNotReady;
  } else if (e != 0) {
    tDebug_Print(tDEBUG_USB, "qnusb %s: bulk IN failed: %d\n", r->serial, e);
    result = tErrIO;
  }
  if (result == tErrNone) {
    r->readPosition = r->readBuffer;
    r->available = transferred;
    if (r->available > 0) {
      *byte = *r->readPosition++;
      r->available--;
    } else {
      result = tErrNotReady;  // a transfer that brought nothing
    }
  }
  return _handleErrorTolerance(r, result, true);
}

tErr qnusb_close_quillnode_USBlib_device(qnusb_device* r) {
  if (r == nullptr) return tErrParam;
  if (r->mode != QNUSB_MODE_LIBUSB || r->handle == nullptr) return tErrMode;
  libusb_release_interface(r->handle, r->interfaceNumber);
  libusb_close(r->handle);
  r->handle = nullptr;
  r->state = QNUSB_STATE_CLOSED;
  r->interfaceNumber = 0;
  r->inEndpoint = 0;
  r->outEndpoint = 0;
  r->available = 0;
  return tErrNone;
}

// The USB transport. A module on USB shows one vendor-specific interface
// (class 0xFF, subclass 0x88, protocol 0x10) with a bulk IN and a bulk OUT
// endpoint; this unit opens that interface by the module's serial number and
// offers it as a byte stream. Two paths reach the device:
//   - libusb-1.0, the normal path (mode 1);
//   - the kernel driver's character device "/dev/quillnode.%08X" (mode 0),
//     used when such a node exists for the serial number.
// The unit also owns the process-wide libusb context that discovery shares.
//
// Timeouts and stalls never reach the link as errors: they show as
// tErrNotReady, "no byte yet". Isolated I/O errors are forgiven up to four in
// a row; the fifth marks the device failed and every later call reports
// tErrIO.
//
// Concurrency: the context is guarded by one process-wide mutex (creation
// and destruction only). A device record has no lock: the link's reader calls
// only get and its writer only write, and the two fields both touch (the
// state and the error count) are read and written atomically.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sdk/core/tErr.h"
#include "sdk/core/tStream.h"

typedef struct libusb_context libusb_context;
typedef struct libusb_device libusb_device;
typedef struct libusb_device_handle libusb_device_handle;

#define QNUSB_VENDOR_ID 0x24FFu
#define QNUSB_INTERFACE_CLASS 0xFFu
#define QNUSB_INTERFACE_SUBCLASS 0x88u
#define QNUSB_INTERFACE_PROTOCOL 0x10u
#define QNUSB_KERNEL_NODE_FORMAT "/dev/quillnode.%08X"
#define QNUSB_READ_BUFFER_SIZE 1024
#define QNUSB_READ_TIMEOUT_MS 1000
#define QNUSB_WRITE_TIMEOUT_MS 50
#define QNUSB_WRITE_ATTEMPTS 10
#define QNUSB_FORGIVEN_IO_ERRORS 4
#define tUSBSTREAMCHECK 0xDEADu

enum {
  QNUSB_MODE_KERNEL = 0,
  QNUSB_MODE_LIBUSB = 1,
};

// Device states.
enum {
  QNUSB_STATE_CREATED = 1,  // record made, nothing opened
  QNUSB_STATE_CLOSED = 2,   // closed, or an open failed after the device was found
  QNUSB_STATE_OPENING = 3,  // handle open; endpoints and claim not done yet
  QNUSB_STATE_OPEN = 4,     // interface claimed; reads and writes run
  QNUSB_STATE_FAILED = 5,   // too many consecutive I/O errors
};

typedef struct qnusb_device {
  int mode;                    // QNUSB_MODE_*
  char serial[256];            // the serial number text that was opened
  int descriptor;              // kernel-driver descriptor; -1 when closed
  libusb_device_handle* handle;  // libusb handle; null when closed
  int state;                   // QNUSB_STATE_*
  uint8_t interfaceNumber;     // the claimed interface
  uint8_t outEndpoint;         // bulk OUT endpoint address
  uint8_t inEndpoint;          // bulk IN endpoint address (bit 7 set)
  uint8_t readBuffer[QNUSB_READ_BUFFER_SIZE];  // last bulk IN transfer
  int available;               // bytes of readBuffer not yet delivered
  uint8_t* readPosition;       // next byte to deliver
  uint8_t errorCount;          // consecutive tErrIO results
  uint16_t inMaxPacket;
  uint16_t outMaxPacket;
} qnusb_device;

// ---------------------------------------------------------------------------
// The shared libusb context

// The process-wide context, created with libusb_init on first use; null when
// libusb cannot start.
libusb_context* Quillnode_libusb_context(void);
// Same as Quillnode_libusb_context.
libusb_context* Quillnode_libusb_init(void);
// Ends the context (libusb_exit) and forgets it, so the next use starts a
// fresh one with a fresh view of the bus. Only while no USB link is open.
void Quillnode_libusb_exit(void);

// True for a module: a readable device descriptor with vendor 0x24FF and a
// product id below 0x8000.
bool is_quillnode_device(libusb_device* device);

// Finds the module's interface and endpoints in configuration 0 (the last
// matching setting wins) and records them with their max packet sizes.
// tErrConfiguration when no setting has both a bulk IN and a bulk OUT.
tErr find_usb_endpoints(qnusb_device* record, libusb_device* device);

// ---------------------------------------------------------------------------
// Device functions. Each mode-specific one returns tErrMode on a record of
// the other mode.

// A zeroed record of the given mode in state 1 (libusb mode first makes sure
// the shared context exists); null when memory runs out.
qnusb_device* qnusb_create_usb(int mode);
// Closes what is still open, frees the record and nulls *record. tErrParam
// for a null record.
tErr qnusb_destroy(qnusb_device** record);

tErr qnusb_open_quillnode_device(qnusb_device* record, const char* serialText);
tErr qnusb_write_to_device(qnusb_device* record, const uint8_t* data, uint32_t length);
tErr qnusb_get_from_device(qnusb_device* record, uint8_t* byte);
tErr qnusb_close_quillnode_device(qnusb_device* record);
// True when "/dev/quillnode.%08X" exists for the serial number.
bool qnusb_is_kernel_driver_installed(uint32_t serialNumber);

// libusb path.
//   open:  tErrNotFound (no attached module has the serial number),
//          tErrConfiguration (no usable interface), tErrBusy (claimed by
//          another process, or gone), tErrPermission, tErrUnknown, tErrMode,
//          tErrResource (state 0)
//   write: tErrNotReady (not open yet), tErrConnection (closed), tErrWrite
//          (bytes left after 10 failed transfers), tErrIO (failed device)
//   get:   tErrNotReady (nothing within 1000 ms, or a stall cleared),
//          tErrConnection (closed), tErrIO (failed device)
tErr qnusb_open_quillnode_USBlib_device(qnusb_device* record, const char* serialText);
tErr qnusb_write_to_USBlib_device(qnusb_device* record, const uint8_t* data, uint32_t length);
tErr qnusb_get_from_USBlib_device(qnusb_device* record, uint8_t* byte);
tErr qnusb_close_quillnode_USBlib_device(qnusb_device* record);

// Kernel-driver path.
//   open:  tErrBusy (EBUSY), tErrIO (any other failure)
//   write: tErrIO (a failed call, or bytes left after 1000 calls)
//   get:   tErrNotReady (nothing there), tErrIO
//   close: tErrCancel (close failed)
tErr qnusb_open_quillnode_kernel_device(qnusb_device* record, const char* serialText);
tErr qnusb_write_to_kernel_device(qnusb_device* record, const uint8_t* data, uint32_t length);
tErr qnusb_get_from_kernel_device(qnusb_device* record, uint8_t* byte);
tErr qnusb_close_quillnode_kernel_device(qnusb_device* record);
// Waits up to timeoutMs for a byte on the kernel-driver node: tErrNone when a
// read is worth trying, tErrTimeout when nothing came (a node that hung up
// sleeps out the whole time, since its reads give nothing).
tErr qnusb_wait_kernel_device(qnusb_device* record, uint32_t timeoutMs);

// ---------------------------------------------------------------------------
// USB stream

// Opens the module with this serial number (the kernel-driver path when its
// node exists, libusb otherwise) and returns a stream over it in *out.
//   tErrParam     out is null or serialNumber is 0
//   tErrMemory    no memory for the state or the stream
//   tErrResource  the device record cannot be made
//   the open error otherwise (tErrNotFound for an absent module, ...)
tErr tStream_CreateUSB(uint32_t serialNumber, tStream** out);

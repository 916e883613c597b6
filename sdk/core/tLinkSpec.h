// How to reach one module. linkSpec is also a wire record: a broker sends it
// whole as a 128-byte datagram, so its layout is fixed (little-endian fields
// unless noted).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sdk/core/tErr.h"

typedef enum linkType : uint32_t {
  INVALID = 0,
  USB = 1,
  TCPIP = 2,
  SERIAL = 3,
  TMESH = 4,         // broker link of unspecified origin
  TMESH_USB = 5,     // broker that reaches its module by USB
  TMESH_TCPIP = 6,   // ... by TCP/IP
  TMESH_SERIAL = 7,  // ... by serial line
} linkType;

#define tLINKSPEC_PORTNAME_SIZE 100

typedef struct linkSpec {
  uint32_t type;                // linkType
  uint32_t serialNumber;
  uint32_t moduleAddress;       // 8-bit value; 0 when unknown
  uint32_t routerAddress;       // routing module's address; 0 when none
  uint32_t routerSerialNumber;  // routing module's serial; 0 when none
  uint32_t model;               // 8-bit model code
  union {
    struct {
      uint32_t usbId;  // USB: equal to the serial number
    } usb;
    struct {
      uint32_t ipAddress;  // network byte order: 127.0.0.1 is 0x0100007F
      uint32_t ipPort;     // only the low 16 bits are used
    } ip;
    struct {
      uint32_t baudRate;
      char portName[tLINKSPEC_PORTNAME_SIZE];  // NUL-terminated device path
    } serial;
  } u;
} linkSpec;

static_assert(sizeof(linkSpec) == 128, "linkSpec is a 128-byte wire record");
static_assert(offsetof(linkSpec, type) == 0, "linkSpec layout");
static_assert(offsetof(linkSpec, serialNumber) == 4, "linkSpec layout");
static_assert(offsetof(linkSpec, moduleAddress) == 8, "linkSpec layout");
static_assert(offsetof(linkSpec, routerAddress) == 12, "linkSpec layout");
static_assert(offsetof(linkSpec, routerSerialNumber) == 16, "linkSpec layout");
static_assert(offsetof(linkSpec, model) == 20, "linkSpec layout");
static_assert(offsetof(linkSpec, u.usb.usbId) == 24, "linkSpec layout");
static_assert(offsetof(linkSpec, u.ip.ipAddress) == 24, "linkSpec layout");
static_assert(offsetof(linkSpec, u.ip.ipPort) == 28, "linkSpec layout");
static_assert(offsetof(linkSpec, u.serial.baudRate) == 24, "linkSpec layout");
static_assert(offsetof(linkSpec, u.serial.portName) == 28, "linkSpec layout");

// True for the four broker kinds (4 to 7).
bool isTMESH(linkType type);

// A zeroed record with `type` set, or null when memory runs out.
linkSpec* tLinkSpec_Create(linkType type);
// A heap copy of `spec`, or null when memory runs out.
linkSpec* tLinkSpec_Copy(linkSpec spec);
// Frees *spec and nulls it. tErrParam when spec or *spec is null.
tErr tLinkSpec_Destroy(linkSpec** spec);

// link-probe: makes one link of the link engine to a module and asks it for
// its serial number with a UEI get of system option 9, printing what it
// sees. For the whole-program tests of the module simulator.
//   link-probe usb SERIAL | tcp SERIAL PORT | serial SERIAL PATH [ADDRESS]
#include <arpa/inet.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "sdk/api/tUEI.h"
#include "sdk/core/tLink.h"
#include "sdk/core/tUSB.h"

namespace {

using Owned = std::unique_ptr<tPacket, tPacketDeleter>;

uint8_t sSerialReply(const tPacket* p, const void*) {
  return p->length == 7 && p->data[0] == cmdSYSTEM && p->data[1] == 9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: link-probe usb SERIAL | tcp SERIAL PORT | serial SERIAL PATH [ADDRESS]\n");
    return 2;
  }
  const std::string kind = argv[1];
  const uint32_t serial = static_cast<uint32_t>(strtoul(argv[2], nullptr, 16));
  uint8_t address = 2;
  int id = 0;
  if (kind == "usb") {
    printf("path %s\n", qnusb_is_kernel_driver_installed(serial) ? "kernel" : "libusb");
    id = tLink_CreateUSB(serial);
  } else if (kind == "tcp" && argc >= 4) {
    id = tLink_CreateTCPIP(serial, htonl(INADDR_LOOPBACK), static_cast<uint16_t>(atoi(argv[3])));
  } else if (kind == "serial" && argc >= 4) {
    if (argc >= 5) address = static_cast<uint8_t>(atoi(argv[4]));
    id = tLink_CreateSerial(serial, argv[3], 115200);
  } else {
    fprintf(stderr, "link-probe: unknown link kind %s\n", kind.c_str());
    return 2;
  }
  const int status = tLink_GetStatus(id);
  printf("link %d status %d\n", id, status);
  fflush(stdout);
  if (id == 0) return 1;
  const uint8_t request[3] = {cmdSYSTEM, 9 | UEI_OPT_GET, UEI_IDX_REQUEST};
  Owned p(tPacket_CreateWithData(address, 3, request));
  tLink_PutPacket(id, p.get());
  Owned reply(tLink_AwaitFirst(id, sSerialReply, nullptr, 2000));
  uint32_t got = reply ? tUEI_RetrieveInt(reply->data + 3) : 0;
  if (reply) {
    printf("reply");
    uint8_t bytes[32];
    size_t n = 0;
    tPacket_GetBytes(reply.get(), bytes, sizeof bytes, &n);
    for (size_t i = 0; i < n; i++) printf(" %02X", bytes[i]);
    printf("\n");
  }
  printf("serial %08X\n", got);
  tLink_Destroy(&id);
  Quillnode_libusb_exit();
  return status == tLINK_STATUS_RUNNING && got == serial ? 0 : 1;
}

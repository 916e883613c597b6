// Link creation through a connection-sharing broker. These sit beside the
// broker because they call into it; the rest of the link engine is in
// sdk/core and never depends on them.
#pragma once

#include <stdint.h>

#include "sdk/core/tLink.h"

// A tMesh link to the broker at ipAddress (network byte order) and port, or,
// with ref other than 0, the existing link ref with one more use (0 when ref
// is unknown). Returns the link id, or 0.
int tLink_CreateClient(uint32_t ipAddress, uint16_t port, int ref);

// Puts a broker in front of the module link moduleLinkId and returns a
// client link to it, writing the bound port and interface back; 0 on failure
// (also for null pointers, id 0 or an unknown id).
int tLink_CreateServer(int moduleLinkId, uint16_t* port, uint32_t* ipAddress, bool localOnly);

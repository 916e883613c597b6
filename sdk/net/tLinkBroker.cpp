#include "sdk/net/tLinkBroker.h"

#include "sdk/core/tDebug.h"

// No broker is built into this SDK yet: a new tMesh link or a served link
// cannot be made, and the callers see the failure as id 0. Sharing an
// existing link by reference needs only the link table.
int tLink_CreateClient(uint32_t ipAddress, uint16_t port, int ref) {
  if (ref != 0) return tLink_ShareExisting(ref);
  tDebug_Print(tDEBUG_LINK, "tLink_CreateClient(0x%08X:%u): no broker client in this build\n", ipAddress, port);
  return 0;
}

int tLink_CreateServer(int moduleLinkId, uint16_t* port, uint32_t* ipAddress, bool localOnly) {
  (void)localOnly;
  if (port == nullptr || ipAddress == nullptr || moduleLinkId == 0) return 0;
  if (tLink_GetRecord(moduleLinkId) == nullptr) return 0;
  tDebug_Print(tDEBUG_BROKER, "tLink_CreateServer(%d): no broker in this build\n", moduleLinkId);
  return 0;
}

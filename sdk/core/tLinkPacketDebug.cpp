// The per-link packet debug log: its size, switching it on and off, and the
// records that callers and the link threads put in and take out.
#include <stdio.h>

#include "sdk/core/tLinkRecord.h"

namespace {

constexpr int sMaxLogSize = 0x4000000;      // 64 MiB
constexpr uint32_t sDefaultLogSize = 0x10000;  // 64 KiB

}  // namespace

void sLogPacket(tLinkRecord* r, uint8_t kind, const tPacket* packet) {
  tPacketLog* log = r->packetLog.load();
  if (log == nullptr) return;
  uint8_t bytes[tPACKET_MAX_BYTES];
  size_t length = 0;
  if (tPacket_GetBytes(packet, bytes, sizeof bytes, &length) != tErrNone) return;
  tMutex_Lock(r->logMutex);
  tPacketLog_Put(log, kind, static_cast<uint8_t>(length), bytes);
  tMutex_Unlock(r->logMutex);
}

void sFreePacketLog(tLinkRecord* r) {
  tPacketLog* log = r->packetLog.exchange(nullptr);
  tPacketLog_Destroy(&log);
  if (r->logMutex != nullptr) tMutex_Destroy(&r->logMutex);
}

tErr tLink_PacketDebug_SetLogSize(int id, int size) {
  tLinkRecord* r = tLink_GetRecord(id);
  if (r == nullptr || size > sMaxLogSize) return tErrParam;
  if (r->packetLog.load() != nullptr) return tErrBusy;
  r->packetLogSize = size < 0 ? 0 : size;
  return tErrNone;
}

tErr tLink_PacketDebug_Enable(int id) {
  tLinkRecord* r = tLink_GetRecord(id);
  if (r == nullptr) return tErrParam;
  tPacketLog* log = r->packetLog.load();
  if (log == nullptr) {
    const uint32_t size = r->packetLogSize > 0 ? static_cast<uint32_t>(r->packetLogSize) : sDefaultLogSize;
    char name[64];
    snprintf(name, sizeof name, "LOG_SEMA_%p", static_cast<void*>(r));
    if (r->logMutex == nullptr) r->logMutex = tMutex_Create(name);
    log = tPacketLog_Create(size);
    if (log == nullptr || r->logMutex == nullptr) {
      tPacketLog_Destroy(&log);
      return tErrResource;
    }
    r->packetLog = log;  // published once the mutex exists
  }
  tMutex_Lock(r->logMutex);
  log->enabled = true;
  tMutex_Unlock(r->logMutex);
  return tErrNone;
}

tErr tLink_PacketDebug_Disable(int id) {
  tLinkRecord* r = tLink_GetRecord(id);
  if (r == nullptr) return tErrParam;
  tPacketLog* log = r->packetLog.load();
  if (log == nullptr) return tErrNotReady;
  tMutex_Lock(r->logMutex);
  log->enabled = false;
  tMutex_Unlock(r->logMutex);
  return tErrNone;
}

tErr tLink_PacketDebug_Read(int id, uint8_t* kind, uint8_t* length, uint8_t* buffer) {
  tLinkRecord* r = tLink_GetRecord(id);
  if (r == nullptr) return tErrParam;
  tPacketLog* log = r->packetLog.load();
  if (log == nullptr) return tErrNotReady;
  tMutex_Lock(r->logMutex);
  const tErr e = tPacketLog_Get(log, kind, length, buffer);
  tMutex_Unlock(r->logMutex);
  return e;
}

tErr tLink_PacketDebug_Write(int id, uint8_t kind, uint8_t length, const uint8_t* bytes) {
  tLinkRecord* r = tLink_GetRecord(id);
  if (r == nullptr) return tErrParam;
  tPacketLog* log = r->packetLog.load();
  if (log == nullptr) return tErrNotReady;
  tMutex_Lock(r->logMutex);
  const tErr e = tPacketLog_Put(log, kind, length, bytes);
  tMutex_Unlock(r->logMutex);
  return e;
}

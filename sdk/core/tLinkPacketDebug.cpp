// The per-link packet debug log: its size, switching it on and off, and the
// records that callers and the link threads put in and take out.
#include <stdio.h>

#include "sdk/core/tLinkRecord.h"

namespace {

constexpr int sMaxLogSize = 0x4000000;      // 64 MiB
constexpr uint32_t sDefaultLogSize = 0x10000;  // 64 KiB

// Runs op on the link's log under the log mutex. tErrNotReady when the link
// has no log, also when a reset takes it away on the way in: the pointer is
// read again under the mutex, which a reset holds while it takes the log.
template <class Op>
tErr sWithLog(tLinkRecord* r, Op op) {
  if (r->packetLog.load() == nullptr) return tErrNotReady;
  tMutex_Lock(r->logMutex);
  tPacketLog* log = r->packetLog.load();
  const tErr e = log != nullptr ? op(log) : tErrNotReady;
  tMutex_Unlock(r->logMutex);
  return e;
}

}  // namespace

void sLogPacket(tLinkRecord* r, uint8_t kind, const tPacket* packet) {
  if (r->packetLog.load() == nullptr) return;
  uint8_t bytes[tPACKET_MAX_BYTES];
  size_t length = 0;
  if (tPacket_GetBytes(packet, bytes, sizeof bytes, &length) != tErrNone) return;
  sWithLog(r, [&](tPacketLog* log) { return tPacketLog_Put(log, kind, static_cast<uint8_t>(length), bytes); });
}

void sDropPacketLog(tLinkRecord* r) {
  tMutex* mutex = r->logMutex;
  if (mutex != nullptr) tMutex_Lock(mutex);
  tPacketLog* log = r->packetLog.exchange(nullptr);
  if (mutex != nullptr) tMutex_Unlock(mutex);
  tPacketLog_Destroy(&log);
}

void sFreePacketLog(tLinkRecord* r) {
  sDropPacketLog(r);
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
  return sWithLog(r, [](tPacketLog* on) {
    on->enabled = true;
    return tErrNone;
  });
}

tErr tLink_PacketDebug_Disable(int id) {
  tLinkRecord* r = tLink_GetRecord(id);
  if (r == nullptr) return tErrParam;
  return sWithLog(r, [](tPacketLog* log) {
    log->enabled = false;
    return tErrNone;
  });
}

tErr tLink_PacketDebug_Read(int id, uint8_t* kind, uint8_t* length, uint8_t* buffer) {
  tLinkRecord* r = tLink_GetRecord(id);
  if (r == nullptr) return tErrParam;
  return sWithLog(r, [&](tPacketLog* log) { return tPacketLog_Get(log, kind, length, buffer); });
}

tErr tLink_PacketDebug_Write(int id, uint8_t kind, uint8_t length, const uint8_t* bytes) {
  tLinkRecord* r = tLink_GetRecord(id);
  if (r == nullptr) return tErrParam;
  return sWithLog(r, [&](tPacketLog* log) { return tPacketLog_Put(log, kind, length, bytes); });
}

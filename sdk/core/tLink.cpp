// The link table and the life of a link: creation for each kind of stream,
// sharing and use counts, start, stop, sync, reset and destroy, and the
// packet operations on its FIFOs.
#include <stdio.h>
#include <stdlib.h>

#include <mutex>
#include <new>

#include "sdk/api/tUEI.h"
#include "sdk/core/tDebug.h"
#include "sdk/core/tLinkRecord.h"
#include "sdk/core/tLinkSpec.h"
#include "sdk/core/tSerialStream.h"
#include "sdk/core/tSocketStream.h"
#include "sdk/core/tTime.h"
#include "sdk/core/tUSB.h"

namespace {

constexpr uint32_t sCallerStream = 0xFFFFFFFFu;  // identifier 0 of a link over a caller's stream
constexpr int sPollMs = 10;
constexpr int sPolls = 200;  // 2 s
constexpr int sResetAttempts = 20;

struct sEntry {
  int id;
  int ownedLink;
  void* server;
  tLinkServerDestroyProc serverDestroy;
  uint32_t identifier0, identifier1, identifier2;
  linkType type;
  int16_t useCount;
  tLinkRecord* link;
  sEntry* next;
};

struct sTable {
  sEntry* head = nullptr;
  int nextId = 1;
  tMutex* mutex = nullptr;
};

sTable _links;
int _clientCount = 0;
std::once_flag sTableOnce;
tLinkClientStreamProc sClientStreamFactory = nullptr;

// Holds the table mutex (named "tLink_Managed", created on first use).
class sTableLock {
 public:
  sTableLock() {
    std::call_once(sTableOnce, [] { _links.mutex = tMutex_Create("tLink_Managed"); });
    tMutex_Lock(_links.mutex);
  }
  ~sTableLock() { tMutex_Unlock(_links.mutex); }
};

// --- Table operations; each holds the table mutex for its whole run. -------

int sCreate2(uint32_t identifier0, uint32_t identifier1, uint32_t identifier2, linkType type) {
  sTableLock lock;
  auto* entry = static_cast<sEntry*>(calloc(1, sizeof(sEntry)));
  tLinkRecord* record = new (std::nothrow) tLinkRecord();
  if (entry == nullptr || record == nullptr) {
    free(entry);
    delete record;
    return 0;
  }
  entry->id = _links.nextId++;
  entry->identifier0 = identifier0;
  entry->identifier1 = identifier1;
  entry->identifier2 = identifier2;
  entry->type = type;
  entry->link = record;
  record->id = entry->id;
  record->status = tLINK_STATUS_NO_LINK;
  entry->next = _links.head;
  _links.head = entry;
  tDebug_Print(tDEBUG_LINK, "tLink: new entry %d (type %u, 0x%08X)\n", entry->id, type, identifier0);
  return entry->id;
}

int sCreate(uint32_t identifier0, uint32_t identifier1, linkType type) {
  return sCreate2(identifier0, identifier1, 0, type);
}

sEntry* sLookupEntryByIDLocked(int id) {
  for (sEntry* e = _links.head; e != nullptr; e = e->next) {
    if (e->id == id) return e;
  }
  return nullptr;
}

sEntry* sLookupEntryByID(int id) {
  sTableLock lock;
  return sLookupEntryByIDLocked(id);
}

sEntry* sExtractEntryLocked(int id) {
  for (sEntry** at = &_links.head; *at != nullptr; at = &(*at)->next) {
    if ((*at)->id == id) {
      sEntry* e = *at;
      *at = e->next;
      e->next = nullptr;
      return e;
    }
  }
  return nullptr;
}

// Drops one use of the entry with this id; the last use takes the entry out
// of the table in the same step, so that no creation shares a link that is
// being torn down. Null for an unknown id; *last tells whether it went.
sEntry* sDropUse(int id, bool* last) {
  sTableLock lock;
  sEntry* e = sLookupEntryByIDLocked(id);
  if (e == nullptr) return nullptr;
  e->useCount = static_cast<int16_t>(e->useCount - 1);
  *last = e->useCount <= 0;
  if (*last) sExtractEntryLocked(id);
  return e;
}

// Adds delta to the use count and returns the new count.
int sChangeUseCount(sEntry* entry, int delta) {
  sTableLock lock;
  entry->useCount = static_cast<int16_t>(entry->useCount + delta);
  return entry->useCount;
}

tLinkRecord* sGetLink(int id) {
  sTableLock lock;
  sEntry* e = sLookupEntryByIDLocked(id);
  return e == nullptr ? nullptr : e->link;
}

// Finds a link of this kind to share: adds a use and returns its id; 0 when
// there is none; -1 when a broker serves it and it must not be shared.
int sShare(uint32_t serialNumber, linkType type, bool refuseServed) {
  sTableLock lock;
  for (sEntry* e = _links.head; e != nullptr; e = e->next) {
    if (e->identifier0 != serialNumber || e->type != type) continue;
    if (refuseServed && e->server != nullptr) {
      tDebug_Print(tDEBUG_LINK,
                   "tLink: device 0x%08X is already used as a server; reach it as a client\n", serialNumber);
      return -1;
    }
    e->useCount++;
    return e->id;
  }
  return 0;
}

tPacket* sMakePacket(uint8_t address, uint8_t length, const uint8_t* data) {
  if (length == 0) {
    tPacket* p = tPacket_Create();
    if (p != nullptr) {
      p->address = address;
      p->count = 2;
    }
    return p;
  }
  return tPacket_CreateWithData(address, length, data);
}

uint8_t sAcceptAll(const tPacket*, const void*) { return 1; }

// The stream a reset makes for an entry of this kind.
tErr sMakeStream(const sEntry* e, tStream** out) {
  switch (e->type) {
    case USB: return tStream_CreateUSB(e->identifier0, out);
    case TCPIP: return tStream_CreateSocket(e->identifier1, static_cast<uint16_t>(e->identifier2), out);
    case TMESH:
    case TMESH_USB:
    case TMESH_TCPIP:
    case TMESH_SERIAL:
      if (sClientStreamFactory == nullptr) return tErrUnimplemented;
      return sClientStreamFactory(e->identifier0, static_cast<uint16_t>(e->identifier1), out);
    default: return tErrParam;
  }
}

// Removes the user filter under its mutex (it may be running right now).
void sClearUserFilter(tLinkRecord* r) {
  if (r->userFilterMutex == nullptr) return;
  tMutex_Lock(r->userFilterMutex);
  r->userFilter = nullptr;
  r->userFilterRef = nullptr;
  tMutex_Unlock(r->userFilterMutex);
}

// Creation's common end: add the first use, start, and on any failure tear
// the half-made link down again.
int sFinishCreate(int id, bool ok, bool sync) {
  if (ok) {
    sEntry* e = sLookupEntryByID(id);
    if (e != nullptr) sChangeUseCount(e, 1);
    ok = e != nullptr && tLink_Start(id) == tErrNone;
    if (ok && sync) ok = tLink_Sync(id) == tErrNone;
  }
  if (!ok) {
    tDebug_Print(tDEBUG_LINK, "tLink: creation of link %d failed\n", id);
    int doomed = id;
    tLink_Destroy(&doomed);
    return 0;
  }
  return id;
}

}  // namespace

// --- Initialisation and creation ------------------------------------------

int tLink_Init(int id, tStream* stream) {
  tLinkRecord* r = sGetLink(id);
  if (r == nullptr) return 0;
  r->check = tLINKCHECK;
  r->id = id;
  r->running = false;
  r->stream = stream;
  r->streamWaits = stream != nullptr && stream->waitProc != nullptr;
  r->status = stream != nullptr ? tLINK_STATUS_STOPPED : tLINK_STATUS_NO_LINK;
  r->readerThread = r->writerThread = nullptr;
  r->inbound = tPacketFifo_Create();
  r->outbound = tPacketFifo_Create();
  r->readerFunction = sInPipeProcess;
  r->writerFunction = sOutPipeProcess;
  r->readerUp = r->writerUp = false;
  r->heartbeatState = kHeartbeatNone;
  r->syncState = kSyncStateNone;
  r->syncByte = 1;
  r->assembly = tPacket_Create();
  r->packetLog.store(nullptr);
  r->packetLogSize = 0;
  // The log mutex is made with the first log and lives as long as the record
  // (a reset keeps it; see sDropPacketLog). A new record has none.
  r->pooled = false;
  r->reading = nullptr;
  r->userFilter = nullptr;
  r->userFilterRef = nullptr;
  char name[64];
  snprintf(name, sizeof name, "tLink(%p)->userFilterSema", static_cast<void*>(r));
  r->userFilterMutex = tMutex_Create(name);
  return id;
}

int tLink_CreateUSB(uint32_t serialNumber) {
  const int shared = sShare(serialNumber, USB, true);
  if (shared != 0) return shared < 0 ? 0 : shared;
  const int id = sCreate(serialNumber, 0, USB);
  if (id == 0) return 0;
  tStream* stream = nullptr;
  const tErr made = tStream_CreateUSB(serialNumber, &stream);
  tDebug_Print(tDEBUG_LINK, "tLink_CreateUSB(0x%08X): stream %d\n", serialNumber, made);
  const bool ok = made == tErrNone && tLink_Init(id, stream) == id;
  return sFinishCreate(id, ok, true);
}

int tLink_CreateTCPIP(uint32_t serialNumber, uint32_t ipAddress, uint16_t port) {
  const int shared = sShare(serialNumber, TCPIP, true);
  if (shared != 0) return shared < 0 ? 0 : shared;
  const int id = sCreate2(serialNumber, ipAddress, port, TCPIP);
  if (id == 0) return 0;
  tStream* stream = nullptr;
  const tErr made = tStream_CreateSocket(ipAddress, port, &stream);
  tDebug_Print(tDEBUG_LINK, "tLink_CreateTCPIP(0x%08X): stream %d\n", serialNumber, made);
  const bool ok = made == tErrNone && tLink_Init(id, stream) == id;
  return sFinishCreate(id, ok, false);
}

int tLink_CreateSerial(uint32_t serialNumber, const char* portName, uint32_t baudRate) {
  const int shared = sShare(serialNumber, SERIAL, false);
  if (shared > 0) return shared;
  const int baudIndex = tSerial_BaudIndex(baudRate);
  if (baudIndex < 0 || portName == nullptr) {
    tDebug_Print(tDEBUG_LINK, "tLink_CreateSerial: unsupported baud rate %u\n", baudRate);
    return 0;
  }
  const int id = sCreate(serialNumber, 0, SERIAL);
  if (id == 0) return 0;
  tStream* stream = nullptr;
  const tErr made = tStream_CreateSerial_Packetized(portName, baudIndex, false, 0, 0, &stream);
  tDebug_Print(tDEBUG_LINK, "tLink_CreateSerial(0x%08X, %s): stream %d\n", serialNumber, portName, made);
  const bool ok = made == tErrNone && tLink_Init(id, stream) == id;
  return sFinishCreate(id, ok, false);
}

int tLink_Create(tStream* stream) {
  if (!tVALIDSTREAM(stream)) {
    if (stream != nullptr) tStream_Destroy(&stream);
    return 0;
  }
  const int id = sCreate(sCallerStream, 0, INVALID);
  if (id == 0) {
    tStream_Destroy(&stream);
    return 0;
  }
  const bool ok = tLink_Init(id, stream) == id;
  return sFinishCreate(id, ok, false);
}

// --- Life -------------------------------------------------------------------

tLinkRecord* tLink_GetRecord(int id) { return sGetLink(id); }

tErr tLink_Start(int id) {
  tLinkRecord* r = sGetLink(id);
  if (r == nullptr || r->check != tLINKCHECK) return tErrParam;
  if (r->running) return tErrNone;
  r->running = true;
  r->stopQueued = false;
  r->status = tLINK_STATUS_STARTING;
  r->heartbeatState = kHeartbeatNone;
  r->readerUp = r->writerUp = false;
  r->readerThread = tThread_Create(r->readerFunction, r);
  r->writerThread = r->readerThread != nullptr ? tThread_Create(r->writerFunction, r) : nullptr;
  if (r->readerThread == nullptr || r->writerThread == nullptr) {
    tLink_Stop(r);
    return tErrResource;
  }
  // Each thread raises its flag once it runs (the reader after setting status 2).
  int polls = 0;
  while (!(r->readerUp && r->writerUp) && polls < sPolls) {
    tTime_MSSleep(sPollMs);
    polls++;
  }
  if (!(r->readerUp && r->writerUp)) return tErrIndexRange;
  tDebug_Print(tDEBUG_LINK, "tLink_Start(%d): running\n", id);
  return tLink_ForceRoute(id, 1);
}

namespace {
tErr sQueueRoute(tLinkRecord* r, uint8_t on);
}

tErr tLink_Stop(tLinkRecord* r) {
  if (r == nullptr) return tErrParam;
  const int status = r->status;
  if (status == tLINK_STATUS_STOPPED || status == tLINK_STATUS_STOPPING) return tErrNone;
  r->status = tLINK_STATUS_STOPPING;
  // Running goes first, so the writer takes the route-off packet as the
  // last it sends before it ends (its drain writes what is still queued).
  r->running = false;
  tErr result = tErrNone;
  // Straight onto the record's FIFO: a destroy has already taken the entry
  // out of the table. The writer drains the FIFO only once this is queued.
  if (r->readerThread != nullptr && r->writerThread != nullptr) result = sQueueRoute(r, 0);
  r->stopQueued = true;
  // A caller writing at once finishes its packet; later ones see the stop
  // and queue theirs for the writer's drain.
  { std::lock_guard<std::mutex> barrier(r->writeLock); }
  // Likewise a caller reading the stream for itself: within a wait slice.
  { std::lock_guard<std::mutex> barrier(r->readLock); }
  int joined = 0;
  if (r->readerThread != nullptr && tThread_Destroy(&r->readerThread) != 0) joined = -1;
  if (r->writerThread != nullptr && tThread_Destroy(&r->writerThread) != 0) joined = -1;
  r->readerUp = r->writerUp = false;
  if (r->assembly != nullptr) tPacket_Reset(r->assembly);
  r->status = tLINK_STATUS_STOPPED;
  r->heartbeatState = kHeartbeatNone;
  tDebug_Print(tDEBUG_LINK, "tLink_Stop(%d): stopped\n", r->id);
  return joined != 0 ? tErrUnknown : result;
}

tErr tLink_Sync(int id) {
  tLinkRecord* r = sGetLink(id);
  if (r == nullptr || r->check != tLINKCHECK) return tErrParam;
  r->status = tLINK_STATUS_SYNCING;  // the reader runs the handshake
  int polls = 0;
  while (r->status != tLINK_STATUS_RUNNING && polls < sPolls) {
    tTime_MSSleep(sPollMs);
    polls++;
  }
  const tErr result = r->status == tLINK_STATUS_RUNNING ? tErrNone : tErrNotReady;
  // Stale magic packets out, then the module's spare answers.
  tPacketFifo_DrainPackets(r->outbound, sAcceptAll, nullptr);
  tTime_MSSleep(100);
  tPacketFifo_DrainPackets(r->inbound, sAcceptAll, nullptr);
  tDebug_Print(tDEBUG_LINK, "tLink_Sync(%d): %d\n", id, result);
  return result;
}

namespace {

tErr sQueueRoute(tLinkRecord* r, uint8_t on) {
  tPacket* p = sMakePacket(cmdFORCEROUTE, 1, &on);
  if (p == nullptr) return tErrMemory;
  const tErr result = tPacketFifo_Put(r->outbound, p);
  tPacket_Destroy(&p);
  return result;
}

}  // namespace

tErr tLink_ForceRoute(int id, uint8_t on) {
  sEntry* e = sLookupEntryByID(id);
  if (e == nullptr) return tErrNotFound;
  if (e->link == nullptr) return tErrParam;
  return sQueueRoute(e->link, on);
}

int tLink_GetStatus(int id) {
  tLinkRecord* r = sGetLink(id);
  return r == nullptr ? tLINK_STATUS_NO_LINK : r->status.load();
}

tErr tLink_Destroy(int* id) {
  if (id == nullptr) return tErrParam;
  bool last = false;
  sEntry* e = sDropUse(*id, &last);
  if (e == nullptr || !last) {
    *id = 0;
    return e == nullptr ? tErrParam : tErrNone;
  }
  tLinkRecord* r = e->link;
  if (r != nullptr) sClearUserFilter(r);
  tErr result = tErrUnknown;
  if (r != nullptr) tLink_Stop(r);
  if (e->server != nullptr && e->serverDestroy != nullptr) e->serverDestroy(&e->server);
  if (e->ownedLink != 0) {
    int owned = e->ownedLink;
    tLink_Destroy(&owned);
  }
  if (r != nullptr) {
    tPacketFifo_Destroy(&r->inbound);
    result = tPacketFifo_Destroy(&r->outbound);
    tPacket_Destroy(&r->assembly);
    sFreePacketLog(r);
    tMutex_Destroy(&r->userFilterMutex);
    if (r->stream != nullptr) tStream_Destroy(&r->stream);
    r->check = 0;
    delete r;
  }
  tDebug_Print(tDEBUG_LINK, "tLink_Destroy(%d)\n", e->id);
  free(e);
  *id = 0;
  return result;
}

tErr tLink_Reset(int id) {
  sEntry* e = sLookupEntryByID(id);
  if (e == nullptr || e->link == nullptr) return tErrParam;
  tLinkRecord* r = e->link;
  tLink_Stop(r);
  tPacketFifo_Destroy(&r->inbound);
  tPacketFifo_Destroy(&r->outbound);
  if (r->stream != nullptr) tStream_Destroy(&r->stream);

  tStream* stream = nullptr;
  tErr made = tErrParam;
  for (int attempt = 0; attempt < sResetAttempts; attempt++) {
    made = sMakeStream(e, &stream);
    if (made == tErrNone) break;
    tTime_MSSleep(100);
  }
  tDebug_Print(tDEBUG_LINK, "tLink_Reset(%d): stream %d\n", id, made);
  if (made == tErrNone) {
    // What the fresh initialisation replaces is freed, not leaked.
    sClearUserFilter(r);
    tPacket_Destroy(&r->assembly);
    tMutex_Destroy(&r->userFilterMutex);
    sDropPacketLog(r);
    tLink_Init(id, stream);
  }
  // Without a stream the link runs all the same: the reader reports status
  // 6 and the route-on packet cannot be queued.
  return tLink_Start(id);
}

// --- Packets ----------------------------------------------------------------

tErr tLink_PutPacket(int id, const tPacket* packet) {
  tLinkRecord* r = sGetLink(id);
  if (r == nullptr) return tErrParam;
  // The writer would take it at once anyway: saving the hand-over to it
  // halves the time a request takes to reach the module.
  if (sWriteNow(r, packet)) return tErrNone;
  return tPacketFifo_Put(r->outbound, packet);
}

tPacket* tLink_GetPacket(int id) {
  tLinkRecord* r = sGetLink(id);
  return r == nullptr ? nullptr : tPacketFifo_Get(r->inbound);
}

tPacket* tLink_AwaitPacket(int id, uint32_t timeoutMs) {
  tLinkRecord* r = sGetLink(id);
  return r == nullptr ? nullptr : tPacketFifo_Await(r->inbound, timeoutMs);
}

tPacket* tLink_GetFirst(int id, tPacketFilter filter, const void* ref) {
  tLinkRecord* r = sGetLink(id);
  return r == nullptr ? nullptr : tPacketFifo_GetFirst(r->inbound, filter, ref);
}

size_t tLink_DrainPackets(int id, tPacketFilter filter, const void* ref) {
  tLinkRecord* r = sGetLink(id);
  return r == nullptr ? 0 : tPacketFifo_DrainPackets(r->inbound, filter, ref);
}

tPacket* tLink_AwaitFirst(int id, tPacketFilter filter, const void* ref, uint32_t timeoutMs) {
  tLinkRecord* r = sGetLink(id);
  if (r == nullptr) return nullptr;
  const uint64_t start = tTime_GetMonotonicMSTicks();
  tPacket* found = nullptr;
  // In slices, so that a link that drops out of sync (a stream error, a
  // packet that could not be queued) ends the wait at once.
  while (r->running && r->status == tLINK_STATUS_RUNNING && found == nullptr) {
    const uint64_t spent = tTime_GetMonotonicMSTicks() - start;
    if (spent >= timeoutMs) break;
    const uint64_t left = timeoutMs - spent;
    if (sAwaitReading(r, filter, ref, static_cast<uint32_t>(left), &found)) continue;
    found = tPacketFifo_AwaitFirst(r->inbound, filter, ref, static_cast<uint32_t>(left < 100 ? left : 100));
  }
  return found;
}

// --- Settings ---------------------------------------------------------------

tErr tLink_InstallUserPacketFilter(int id, tPacketFilter filter, const void* ref) {
  tLinkRecord* r = sGetLink(id);
  if (r == nullptr || r->userFilterMutex == nullptr) return tErrParam;
  tMutex_Lock(r->userFilterMutex);
  r->userFilter = filter;
  r->userFilterRef = filter != nullptr ? ref : nullptr;
  tMutex_Unlock(r->userFilterMutex);
  return tErrNone;
}

tErr tLink_EnablePooledPackets(int id, bool on) {
  tLinkRecord* r = sGetLink(id);
  if (r == nullptr) return tErrParam;
  r->pooled = on;
  return tErrNone;
}

// --- Module queries ---------------------------------------------------------

namespace {

// Puts the packet (and frees it) and waits up to 1000 ms for the next
// inbound packet.
tErr sAsk(int id, tPacket* request, tPacket** reply) {
  *reply = nullptr;
  if (request == nullptr) return tErrMemory;
  const tErr put = tLink_PutPacket(id, request);
  tPacket_Destroy(&request);
  if (put != tErrNone) return put;
  *reply = tLink_AwaitPacket(id, 1000);
  return *reply == nullptr ? tErrTimeout : tErrNone;
}

}  // namespace

tErr _tLink_GetModuleAddress(int id, uint8_t* address) {
  if (address == nullptr) return tErrParam;
  tPacket* reply = nullptr;
  tErr result = sAsk(id, sMakePacket(cmdMAGIC, 0, nullptr), &reply);
  if (result != tErrNone) return result;
  result = tErrIO;
  if (reply->length == 0 && reply->address != 0) {
    *address = reply->address;
    result = tErrNone;
  }
  tPacket_Destroy(&reply);
  return result;
}

tErr _tLink_GetModel(int id, uint8_t address, uint8_t* model) {
  if (model == nullptr) return tErrParam;
  const uint8_t request[3] = {cmdSYSTEM, 8 | UEI_OPT_GET, UEI_IDX_REQUEST};
  tPacket* reply = nullptr;
  tErr result = sAsk(id, tPacket_CreateWithData(address, 3, request), &reply);
  if (result != tErrNone) return result;
  result = tErrIO;
  if (reply->address == address && reply->length == 4 && reply->data[0] == cmdSYSTEM) {
    *model = reply->data[3];
    result = tErrNone;
  }
  tPacket_Destroy(&reply);
  return result;
}

// --- Hooks for the broker layer --------------------------------------------

tErr tLink_AttachServer(int id, void* server, tLinkServerDestroyProc destroy) {
  sTableLock lock;
  sEntry* e = sLookupEntryByIDLocked(id);
  if (e == nullptr) return tErrParam;
  e->server = server;
  e->serverDestroy = destroy;
  return tErrNone;
}

void tLink_SetClientStreamFactory(tLinkClientStreamProc make) { sClientStreamFactory = make; }

int tLink_NewClientEntry(uint32_t ipAddress, uint16_t port) {
  int count;
  {
    sTableLock lock;
    count = _clientCount++;
  }
  return sCreate2(ipAddress, port, static_cast<uint32_t>(count), TMESH);
}

int tLink_ShareExisting(int id) {
  sTableLock lock;
  sEntry* e = sLookupEntryByIDLocked(id);
  if (e == nullptr) return 0;
  e->useCount++;
  return e->id;
}

tErr tLink_SetOwnedLink(int clientId, int moduleLinkId) {
  sTableLock lock;
  sEntry* e = sLookupEntryByIDLocked(clientId);
  if (e == nullptr) return tErrParam;
  e->ownedLink = moduleLinkId;
  return tErrNone;
}

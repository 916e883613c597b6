// The two threads of a running link. The reader turns the stream's bytes
// into packets, keeps the link in step with the module through the sync
// handshake, answers heartbeats and queues everything else on the inbound
// FIFO. The writer takes packets from the outbound FIFO and writes them to
// the stream, one by one or in batches.
//
// Packets travel in their serialised form (address, length, payload) with
// nothing in between, so the reader must know where a packet starts. A magic
// packet (0xAD 0x00) makes the module answer with an empty packet from its
// own address; two such answers in a row (A 0x00 A 0x00) put the reader in
// step. Modules send from even addresses: an odd one means the reader lost
// step.
#include <string.h>

#include <chrono>
#include <thread>

#include "sdk/api/tUEI.h"
#include "sdk/core/tDebug.h"
#include "sdk/core/tLinkRecord.h"
#include "sdk/core/tTime.h"
#include "sdk/core/tWatch.h"

namespace {

constexpr int sMagicBurst = 6;
constexpr uint32_t sIdleMs = 1000;  // a second of silence counts as one "no byte"
constexpr uint32_t sSliceMs = 100;  // how often an idle reader looks at its flags
constexpr uint32_t sAsideMs = 2;    // how often a reader that stepped aside for a caller looks again
constexpr int sAsideNaps = 5;       // looks before it sleeps until the caller lets go
constexpr int sDrainWaits = 2000;   // ms a stopping writer waits for the stop's last packet
constexpr uint32_t sPoolBytes = 4096;
constexpr uint32_t sPoolFill = 4066;  // room left for one more packet of up to 30 bytes

void sTracePacket(uint32_t area, const char* who, int id, const tPacket* p) {
  if (!tDebug_On(area)) return;
  tDebug_Print(area, " %s(%d) ADDR:%02X, LEN:%02X, [%02X %02X %02X ...]\n", who, id, p->address, p->length,
               p->data[0], p->data[1], p->data[2]);
}

// Restarts the handshake: status 4 and six magic packets.
void sStartSync(tLinkRecord* r) {
  tDebug_Print(tDEBUG_LINK, "syncStart\n");
  r->status = tLINK_STATUS_SYNCING;
  r->syncState = kSyncStateStart;
  tPacket_Reset(r->assembly);
  tPacket* magic = tPacket_Create();
  tErr put = tErrMemory;
  if (magic != nullptr) {
    magic->address = cmdMAGIC;
    magic->count = 2;
    for (int i = 0; i < sMagicBurst; i++) put = tPacketFifo_Put(r->outbound, magic);
    tPacket_Destroy(&magic);
  }
  if (put == tErrNone) r->syncState = kSyncStateByte1;
}

// One byte of the module's answer while synchronising.
void sSyncByte(tLinkRecord* r, uint8_t b) {
  switch (r->syncState.load()) {
    case kSyncStateByte1:
      if (b != 0 && (b & 1) == 0) {
        r->syncByte = b;
        r->syncState = kSyncStateByte2;
      } else {
        sStartSync(r);
      }
      break;
    case kSyncStateByte2:
      r->syncState = b == 0 ? kSyncStateByte3 : kSyncStateStart;
      break;
    case kSyncStateByte3:
      r->syncState = b == r->syncByte ? kSyncStateByte4 : kSyncStateStart;
      break;
    case kSyncStateByte4:
      if (b == 0) {
        r->syncState = kSyncStateNone;
        r->status = tLINK_STATUS_RUNNING;
        tDebug_Print(tDEBUG_LINK, "synced\n");
      } else {
        r->syncState = kSyncStateStart;
      }
      break;
    default:  // none, or requested but not sent: any byte restarts it
      sStartSync(r);
      break;
  }
}

// Answers a heartbeat (A 0x02 0x00 X) with A 0x02 0x00 X+2. tErrNotFound
// for anything else, which then goes to the inbound FIFO.
tErr sHandleHBBackChannel(tLinkRecord* r, const tPacket* p) {
  if (p->length != 2 || p->data[0] != cmdHB) return tErrNotFound;
  if (r->heartbeatState == kHeartbeatUp || r->heartbeatState == kHeartbeatDown) return tErrNotFound;
  const uint8_t kind = p->data[1];
  if (kind == 0) r->heartbeatState = kHeartbeatUp;
  if (kind == 1) r->heartbeatState = kHeartbeatDown;
  tDebug_Print(tDEBUG_PACKETS, " sHandleHBBackChannel(%d) %s\n", r->id,
               kind == 1 ? "sending HB DOWN" : "sending HB UP");
  const uint8_t answer[2] = {cmdHB, static_cast<uint8_t>(kind + 2)};
  tPacket* reply = tPacket_CreateWithData(p->address, 2, answer);
  if (reply == nullptr) return tErrNone;
  tPacketFifo_Put(r->outbound, reply);
  r->heartbeatState = kHeartbeatNone;
  tPacket_Destroy(&reply);
  return tErrNone;
}

// Runs after every byte added to the assembly packet.
tErr sHandlePacket(tLinkRecord* r) {
  tPacket* p = r->assembly;
  if (!tPacket_IsComplete(p)) return tErrNone;
  sLogPacket(r, tPACKETLOG_RECEIVED, p);
  sTracePacket(tDEBUG_PACKETS, "sHandlePacket", r->id, p);
  bool consumed = false;
  if (r->userFilterMutex != nullptr) {
    tMutex_Lock(r->userFilterMutex);
    if (r->userFilter != nullptr) consumed = r->userFilter(p, r->userFilterRef) != 0;
    tMutex_Unlock(r->userFilterMutex);
  }
  tErr result = tErrNone;
  if (!consumed && sHandleHBBackChannel(r, p) != tErrNone) {
    tLinkReading* caller = r->reading;
    if (caller != nullptr && caller->found == nullptr &&
        (caller->filter == nullptr || caller->filter(p, caller->ref) != 0)) {
      caller->found = tPacket_Copy(p);
    }
    if (caller == nullptr || caller->found == nullptr) result = tPacketFifo_Put(r->inbound, p);
  }
  tPacket_Reset(p);
  return result;
}

// Takes one byte from the stream: into the sync handshake, or into the
// assembly packet. Read lock held.
void sTakeByte(tLinkRecord* r, uint8_t b) {
  if (r->status == tLINK_STATUS_SYNCING) {
    sSyncByte(r, b);
    return;
  }
  if (tPacket_AddByte(r->assembly, b) != tErrNone || (r->assembly->address & 1) != 0) {
    tDebug_Print(tDEBUG_LINK, "Out of sync\n");
    sStartSync(r);
    return;
  }
  if (sHandlePacket(r) != tErrNone) r->status = tLINK_STATUS_PACKET_ERROR;
}

constexpr int sBurst = 512;  // bytes taken under one hold of the read lock

// Takes what the stream has, up to a burst, under the read lock. Returns the
// last read's result: tErrNone when the burst was used up or the link
// stopped. A get that waits for a byte (USB) may give bytes for a long time
// without ever saying "not ready": the burst looks at the stop after each.
tErr sReadAvailable(tLinkRecord* r) {
  std::lock_guard<std::mutex> reading(r->readLock);
  for (int i = 0; i < sBurst && r->running; i++) {
    uint8_t b = 0;
    const tErr e = tStream_Read(r->stream, &b, 1);
    if (e != tErrNone) return e;
    sTakeByte(r, b);
  }
  return tErrNone;
}

// A read failed with more than "nothing there": status 6 until the line is
// quiet again, which restarts the sync. Read lock held.
void sStreamFailed(tLinkRecord* r, tErr e) {
  if (r->status != tLINK_STATUS_IO_ERROR) {
    tDebug_Print(tDEBUG_LINK, " sInPipeProcess(%d) IO_ERROR [tStream_Read()==>%d]\n", r->id, e);
  }
  r->status = tLINK_STATUS_IO_ERROR;
}

// Waits for the stream to have bytes again, after a read found none. True
// when the line stayed quiet for a whole read period. A stream with a wait
// function is waited on in slices (so the reader sleeps, and still sees a
// stop or a sync request within a slice); when its wait says data is there
// and the next read gives nothing all the same, that is a transport that took
// bytes without giving one yet (a COBS frame being received), or a caller
// that read them itself: not a quiet line. A stream without one paces itself
// in its get (a USB bulk read waits up to a second).
bool sQuietLine(tLinkRecord* r) {
  tStream* s = r->stream;
  if (s == nullptr || s->waitProc == nullptr) return true;  // the get waited itself
  for (uint32_t waited = 0;;) {
    if (tStream_Wait(s, sSliceMs) != tErrTimeout || r->callerReading) return false;
    waited += sSliceMs;
    const bool syncRequested = r->status == tLINK_STATUS_SYNCING && r->syncState == kSyncStateNone;
    if (!r->running || waited >= sIdleMs || syncRequested) return true;
  }
}

uint8_t sOutboundWaiting(void* ref) { return tPacketFifo_GetLength(*static_cast<uint64_t*>(ref)) != 0; }

// Whether a packet waits on the outbound FIFO, after up to a second. The
// packet stays queued until the writer takes it under the write lock. While
// an exchange goes on the next request follows a write within microseconds,
// so the writer looks for it before it sleeps (see tWatch).
bool sAwaitOutbound(tLinkRecord* r, tWatch* watch) {
  uint64_t fifo = r->outbound;
  if (tWatch_Look(watch, sOutboundWaiting, &fifo)) return true;
  const bool waiting = tPacketFifo_AwaitLength(fifo, 1000) != 0;
  tWatch_Slept(watch);
  return waiting;
}

void sWrite(tLinkRecord* r, const uint8_t* bytes, size_t length, bool pooled) {
  const tErr e = tStream_Write(r->stream, bytes, static_cast<uint32_t>(length));
  if (e != tErrNone) {
    tDebug_Print(tDEBUG_LINK, pooled ? "sOutPipeProcess error writing pooled: %d\n" : "sOutPipeProcess error writing: %d\n",
                 e);
  }
}

// Writes one packet by itself: its trace, one stream write of its
// serialised form, and its log record. False when it has no serialised form.
bool sWriteAlone(tLinkRecord* r, const tPacket* p) {
  sTracePacket(tDEBUG_PACKETS, "sOutPipeProcess", r->id, p);
  uint8_t bytes[tPACKET_MAX_BYTES];
  size_t used = 0;
  if (tPacket_GetBytes(p, bytes, sizeof bytes, &used) != tErrNone) return false;
  sWrite(r, bytes, used, false);
  sLogPacket(r, tPACKETLOG_SENT, p);
  return true;
}

// Writes the packet and whatever else is queued behind it, up to a full
// buffer of sPoolBytes, with one stream write; only the first is logged.
void sWritePooled(tLinkRecord* r, const tPacket* p, uint8_t* buffer) {
  sTracePacket(tDEBUG_PACKETS, "sOutPipeProcess", r->id, p);
  size_t used = 0;
  memset(buffer, 0, sPoolBytes);
  tPacket_GetBytes(p, buffer, sPoolBytes, &used);
  while (used <= sPoolFill) {
    tPacket* more = tPacketFifo_Get(r->outbound);
    if (more == nullptr) break;
    size_t n = 0;
    if (tPacket_GetBytes(more, buffer + used, sPoolBytes - used, &n) == tErrNone) used += n;
    tPacket_Destroy(&more);
  }
  sWrite(r, buffer, used, true);
  sLogPacket(r, tPACKETLOG_SENT, p);
}

}  // namespace

bool sWriteNow(tLinkRecord* r, const tPacket* packet) {
  // A pooled link gathers packets into batches, so they wait for the writer.
  if (r->pooled || !r->running || !r->writerUp || !tVALIDPACKET(packet)) return false;
  std::unique_lock<std::mutex> writing(r->writeLock, std::try_to_lock);
  if (!writing.owns_lock() || !r->running || r->stream == nullptr || r->outbound == 0 ||
      tPacketFifo_GetLength(r->outbound) != 0) {
    return false;
  }
  return sWriteAlone(r, packet);
}

namespace {

constexpr auto sClaim = std::chrono::microseconds(20);  // how long a caller tries for the read lock

// Takes the read lock within sClaim: the reader thread holds it only while
// it takes bytes already there, unless its stream's get blocks.
bool sClaimReadLock(std::unique_lock<std::mutex>* reading) {
  const auto until = std::chrono::steady_clock::now() + sClaim;
  while (!reading->try_lock()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::yield();
  }
  return true;
}

// The caller's reading, read lock held. A stream error is handled as the
// reader thread handles it (status 6), which ends the caller's wait.
tPacket* sReadFor(tLinkRecord* r, tStream* s, tPacketFilter filter, const void* ref, uint32_t timeoutMs) {
  tPacket* found = tPacketFifo_GetFirst(r->inbound, filter, ref);
  if (found != nullptr) return found;
  tLinkReading caller = {filter, ref, nullptr};
  r->reading = &caller;
  const uint64_t start = tTime_GetMonotonicMSTicks();
  while (caller.found == nullptr && r->running && r->status == tLINK_STATUS_RUNNING) {
    const uint64_t spent = tTime_GetMonotonicMSTicks() - start;
    if (spent >= timeoutMs) break;
    const uint64_t left = timeoutMs - spent;
    // A get only once the wait says a byte may be there, before every byte:
    // some transports' gets wait for one (the kernel node's read, up to a
    // second), and a caller must keep to its own time.
    if (tStream_Wait(s, static_cast<uint32_t>(left < sSliceMs ? left : sSliceMs)) == tErrTimeout) continue;
    for (int i = 0; i < sBurst && caller.found == nullptr; i++) {
      if (i > 0 && tStream_Wait(s, 0) == tErrTimeout) break;
      uint8_t b = 0;
      const tErr e = tStream_Read(s, &b, 1);
      if (e == tErrNotReady) break;
      if (e != tErrNone) {
        sStreamFailed(r, e);
        break;
      }
      sTakeByte(r, b);
    }
  }
  r->reading = nullptr;
  return caller.found;
}

// The reader while a caller reads the stream. During an exchange callers
// hold the stream for microseconds at a time, so the reader only naps; a
// caller that holds it longer (a slow reply) would cost a wake-up every
// nap, so then the reader sleeps until the caller lets go (or a slice
// passes, to see a stop).
void sStandAside(tLinkRecord* r, int* naps) {
  if (*naps < sAsideNaps) {
    ++*naps;
    tTime_MSSleep(sAsideMs);
    return;
  }
  std::unique_lock<std::mutex> aside(r->asideMutex);
  r->readerParked = true;
  const bool free = r->asideSignal.wait_for(aside, std::chrono::milliseconds(sSliceMs),
                                            [r] { return !r->callerReading || !r->running; });
  r->readerParked = false;
  // Woken by a caller that let go: the next caller of an exchange gets the
  // naps again, so that a steady exchange wakes the reader only now and then.
  if (free) *naps = 0;
}

}  // namespace

bool sAwaitReading(tLinkRecord* r, tPacketFilter filter, const void* ref, uint32_t timeoutMs, tPacket** found) {
  *found = nullptr;
  // Nothing of the stream is touched before the read lock is held on a
  // running link: until then a reset may destroy it.
  if (!r->running || r->status != tLINK_STATUS_RUNNING || !r->streamWaits) return false;
  bool idle = false;
  if (!r->callerReading.compare_exchange_strong(idle, true)) return false;  // another caller reads
  bool read = false;
  {
    std::unique_lock<std::mutex> reading(r->readLock, std::defer_lock);
    if (sClaimReadLock(&reading) && r->running) {
      tStream* s = r->stream;
      if (s != nullptr && s->waitProc != nullptr && r->inbound != 0) {
        *found = sReadFor(r, s, filter, ref, timeoutMs);
        read = true;
      }
    }
  }
  r->callerReading = false;
  if (r->readerParked) {
    std::lock_guard<std::mutex> aside(r->asideMutex);
    r->asideSignal.notify_one();
  }
  return read;
}

void* sInPipeProcess(void* argument) {
  auto* r = static_cast<tLinkRecord*>(argument);
  r->heartbeatState = kHeartbeatNone;
  r->syncByte = 1;
  r->status = tLINK_STATUS_RUNNING;
  r->syncState = kSyncStateNone;
  r->readerUp = true;
  int naps = 0;
  while (r->running) {
    if (r->callerReading) {
      sStandAside(r, &naps);
      continue;
    }
    naps = 0;
    const tErr e = sReadAvailable(r);
    if (e == tErrNone) continue;
    if (e == tErrNotReady) {
      const bool quiet = sQuietLine(r);
      const int status = r->status;
      if (quiet && (status == tLINK_STATUS_SYNCING || status == tLINK_STATUS_IO_ERROR)) {
        std::lock_guard<std::mutex> reading(r->readLock);
        tDebug_Print(tDEBUG_LINK, " sInPipeProcess(%d) -- syncing\n", r->id);
        sStartSync(r);
      }
      continue;
    }
    sStreamFailed(r, e);
    tTime_MSSleep(100);
  }
  tDebug_Print(tDEBUG_LINK, " sInPipeProcess(%d) terminating\n", r->id);
  return nullptr;
}

void* sOutPipeProcess(void* argument) {
  auto* r = static_cast<tLinkRecord*>(argument);
  r->writerUp = true;
  uint8_t buffer[sPoolBytes];
  tWatch watch;
  tWatch_Init(&watch);
  while (r->running) {
    if (!sAwaitOutbound(r, &watch)) {
      // A reset that could make no stream leaves the link without FIFOs,
      // and a wait on no FIFO returns at once: pace the loop instead.
      if (r->outbound == 0) tTime_MSSleep(sSliceMs);
      continue;
    }
    std::lock_guard<std::mutex> writing(r->writeLock);
    tPacket* p = tPacketFifo_Get(r->outbound);
    if (p == nullptr) continue;
    if (r->pooled) {
      sWritePooled(r, p, buffer);
    } else {
      sWriteAlone(r, p);
    }
    tPacket_Destroy(&p);
  }
  // What is still queued (the route-off packet of a stop among it) goes out.
  for (int i = 0; !r->stopQueued && i < sDrainWaits; i++) tTime_MSSleep(1);
  std::lock_guard<std::mutex> writing(r->writeLock);
  for (tPacket* p = tPacketFifo_Get(r->outbound); p != nullptr; p = tPacketFifo_Get(r->outbound)) {
    size_t used = 0;
    if (tPacket_GetBytes(p, buffer, sizeof buffer, &used) == tErrNone) sWrite(r, buffer, used, false);
    tPacket_Destroy(&p);
  }
  tDebug_Print(tDEBUG_LINK, " sOutPipeProcess(%d) terminating\n", r->id);
  return nullptr;
}

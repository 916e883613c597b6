// The link engine's own records, shared by its units (table and life, the
// reader and writer threads, the packet debug log). Not for callers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "sdk/core/tLink.h"
#include "sdk/core/tMutex.h"
#include "sdk/core/tPacketLog.h"
#include "sdk/core/tThread.h"

// Sync states of the reader.
enum {
  kSyncStateNone = 0,   // any byte restarts sync
  kSyncStateStart = 1,  // sync requested but not yet sent
  kSyncStateByte1 = 2,  // waiting for the module's address byte
  kSyncStateByte2 = 3,  // waiting for the first 0x00
  kSyncStateByte3 = 4,  // waiting for the address byte again
  kSyncStateByte4 = 5,  // waiting for the second 0x00
};

// Heartbeat answer in progress.
enum {
  kHeartbeatNone = 0,
  kHeartbeatUp = 2,
  kHeartbeatDown = 3,
};

// A caller that reads the link's stream itself while it awaits a packet
// (see sAwaitReading): what it waits for, and what it found.
struct tLinkReading {
  tPacketFilter filter;
  const void* ref;
  tPacket* found;
};

struct tLinkRecord {
  uint16_t check;  // tLINKCHECK once initialised
  int id;
  // Single words that the caller and the threads read and write without a
  // lock, each with one writer at a time by protocol.
  std::atomic<bool> running;
  std::atomic<int> status;
  uint64_t inbound;  // FIFO ids
  tPacket* assembly;
  uint64_t outbound;
  tThread* readerThread;
  tThread* writerThread;
  tThreadFunction readerFunction;
  tThreadFunction writerFunction;
  std::atomic<bool> readerUp;
  std::atomic<bool> writerUp;
  tStream* stream;
  int heartbeatState;
  std::atomic<int> syncState;
  uint8_t syncByte;
  std::atomic<tPacketLog*> packetLog;  // published after logMutex exists
  int packetLogSize;
  tMutex* logMutex;
  tPacketFilter userFilter;
  const void* userFilterRef;
  tMutex* userFilterMutex;
  std::atomic<bool> pooled;
  // Held by whoever writes the stream: the writer from taking a packet off
  // the outbound FIFO until it is written, a caller writing at once (see
  // sWriteNow), and a stop once running is cleared, so that nobody writes a
  // stream that a reset or destroy is about to replace.
  std::mutex writeLock;
  // Held by whoever reads the stream and turns its bytes into packets: the
  // reader thread while it takes what the stream has (not while it waits
  // for more), or a caller reading for itself; reading is that caller.
  std::mutex readLock;
  tLinkReading* reading;
  // Set while a caller reads for itself: the reader thread then stays off
  // the stream, so the module's answer wakes only the caller.
  std::atomic<bool> callerReading;
  // A reader that has stood aside for a while sleeps here until the caller
  // lets go of the stream (parked is set meanwhile, so that only then does
  // the caller wake it).
  std::mutex asideMutex;
  std::condition_variable asideSignal;
  std::atomic<bool> readerParked;
  // Whether the stream has a wait function, so a caller may read it (set
  // with the stream; a caller looks at this, not at a stream a reset may be
  // destroying).
  std::atomic<bool> streamWaits;
  // Set by a stop once its route-off packet is queued, so that the writer's
  // drain cannot end before it.
  std::atomic<bool> stopQueued;
};

// The reader and writer thread functions (argument: the record).
void* sInPipeProcess(void* record);
void* sOutPipeProcess(void* record);

// A put on a running unpooled link whose outbound FIFO is empty and whose
// writer is not writing: writes the packet from the caller's thread at once
// and returns true. Queue order is kept, because nothing is queued and the
// writer only takes packets under the write lock. False when the packet must
// be queued instead. A write error drops the packet, as the writer would.
bool sWriteNow(tLinkRecord* link, const tPacket* packet);

// Awaits a packet the filter accepts by reading the stream on the caller's
// own thread, which saves the hand-over from the reader thread to the
// caller. Only while nobody else reads, on a running link in sync whose
// stream can be waited on: false otherwise, and the caller then waits on the
// inbound FIFO. True when it waited, until it found a packet (*found), the
// time ran out or the link stopped, lost sync or saw a stream error.
// Everything else read meanwhile is handled as the reader thread would.
bool sAwaitReading(tLinkRecord* link, tPacketFilter filter, const void* ref, uint32_t timeoutMs, tPacket** found);

// Records a packet's serialised form in the link's log when the log is on.
void sLogPacket(tLinkRecord* link, uint8_t kind, const tPacket* packet);
// Takes the log away and frees it, keeping the log mutex (reset): a logger
// on its way into the log then finds the mutex, and after it no log.
void sDropPacketLog(tLinkRecord* link);
// Frees the log and its mutex (destroy).
void sFreePacketLog(tLinkRecord* link);

// The link engine's own records, shared by its units (table and life, the
// reader and writer threads, the packet debug log). Not for callers.
#pragma once

#include <atomic>

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
};

// The reader and writer thread functions (argument: the record).
void* sInPipeProcess(void* record);
void* sOutPipeProcess(void* record);

// Records a packet's serialised form in the link's log when the log is on.
void sLogPacket(tLinkRecord* link, uint8_t kind, const tPacket* packet);
// Takes the log away and frees it, keeping the log mutex (reset): a logger
// on its way into the log then finds the mutex, and after it no log.
void sDropPacketLog(tLinkRecord* link);
// Frees the log and its mutex (destroy).
void sFreePacketLog(tLinkRecord* link);

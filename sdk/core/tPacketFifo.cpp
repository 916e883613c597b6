#include "sdk/core/tPacketFifo.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace {

// One queue entry: a sequence id and a private copy of the packet.
struct SerialPacket {
  int64_t id = 0;
  std::unique_ptr<tPacket, tPacketDeleter> packet;
};

struct packetFifo {
  std::deque<SerialPacket> queue;
  std::condition_variable notEmpty;  // every accepted put, and destroy
  std::mutex lock;                   // guards queue and the window
  std::atomic<bool> alive{true};
  // The window: ids from windowStart (the first queued packet, or nextId
  // when empty) up to nextId. Changed only under lock.
  std::atomic<int64_t> windowStart{0};
  std::atomic<int64_t> nextId{0};

  void syncWindow() { windowStart = queue.empty() ? nextId.load() : queue.front().id; }
  void clearAndSyncWindow() {
    queue.clear();
    syncWindow();
  }
  void eraseAndSyncWindow(std::deque<SerialPacket>::iterator at) {
    queue.erase(at);
    syncWindow();
  }
};

using sFifoRef = std::shared_ptr<packetFifo>;

std::map<uint64_t, sFifoRef> gpPacketFifoDictionary;
std::mutex gpPacketFifoDictionaryMutex;
std::atomic<uint64_t> gpSequentialId{1};

// Copies the FIFO's owning pointer out of the registry, so the FIFO outlives
// a destroy that happens while this caller works on it.
sFifoRef sLookup(uint64_t id) {
  try {
    std::lock_guard<std::mutex> guard(gpPacketFifoDictionaryMutex);
    auto it = gpPacketFifoDictionary.find(id);
    return it == gpPacketFifoDictionary.end() ? nullptr : it->second;
  } catch (...) {
    return nullptr;
  }
}

bool sAccepts(tPacketFilter filter, const tPacket* p, const void* ref) {
  return filter == nullptr || filter(p, ref) != 0;
}

std::chrono::steady_clock::time_point sDeadline(uint32_t timeoutMs) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

// Hands the entry's packet to the caller as a new packet; the entry goes only
// once the copy exists.
tPacket* _stealPacketFromFifo(packetFifo& f, std::deque<SerialPacket>::iterator at) {
  tPacket* copy = tPacket_Copy(at->packet.get());
  if (copy == nullptr) return nullptr;
  f.eraseAndSyncWindow(at);
  return copy;
}

// A caller waiting for a reply first watches the FIFO for up to 50 us
// before it sleeps: the reply to a request usually comes within tens of
// microseconds, and waking a sleeping thread costs as much again (far more
// on a virtual machine whose idle processor must be woken first). Only
// filtered waits do this, so an idle link (its writer waits unfiltered)
// never spins, and the watch is bounded. The watch gives the processor
// away at each look: the thread that produces the reply (the link's writer,
// then its reader) may be queued on this very processor, and a watch that
// kept it would only delay the reply it waits for.
constexpr auto sSpin = std::chrono::microseconds(50);

template <class Pred>
bool sWait(packetFifo& f, std::unique_lock<std::mutex>& lock, uint32_t timeoutMs, Pred satisfied) {
  const auto deadline = sDeadline(timeoutMs);
  const auto spinEnd = std::min(deadline, std::chrono::steady_clock::now() + sSpin);
  while (!satisfied()) {
    if (std::chrono::steady_clock::now() >= spinEnd) return f.notEmpty.wait_until(lock, deadline, satisfied);
    const int64_t seen = f.nextId;
    lock.unlock();
    while (f.nextId == seen && f.alive && std::chrono::steady_clock::now() < spinEnd) {
      std::this_thread::yield();
    }
    lock.lock();
  }
  return true;
}

// Waits until the queue holds something or the FIFO dies; false on timeout.
bool _waitUntilNotEmpty(packetFifo& f, std::unique_lock<std::mutex>& lock, uint32_t timeoutMs) {
  return f.notEmpty.wait_until(lock, sDeadline(timeoutMs), [&f] { return !f.queue.empty() || !f.alive; });
}

// Waits until the filter accepts a queued packet or the FIFO dies. Each
// packet reaches the filter at most once: lastTested remembers the newest id
// already shown to it. Returns the accepted entry or queue.end().
std::deque<SerialPacket>::iterator _waitUntilProcIsSatisfied(packetFifo& f, std::unique_lock<std::mutex>& lock,
                                                             tPacketFilter filter, const void* ref,
                                                             uint32_t timeoutMs) {
  int64_t lastTested = f.windowStart - 1;
  auto found = f.queue.end();
  auto satisfied = [&]() {
    found = f.queue.end();
    for (auto it = f.queue.begin(); it != f.queue.end(); ++it) {
      if (it->id <= lastTested) continue;
      lastTested = it->id;
      if (sAccepts(filter, it->packet.get(), ref)) {
        found = it;
        return true;
      }
    }
    return !f.alive;
  };
  sWait(f, lock, timeoutMs, satisfied);
  return found;
}

}  // namespace

uint64_t tPacketFifo_Create(void) {
  try {
    auto fifo = std::make_shared<packetFifo>();
    std::lock_guard<std::mutex> guard(gpPacketFifoDictionaryMutex);
    uint64_t id = gpSequentialId++;
    if (id == 0) id = gpSequentialId++;  // 0 means "no FIFO"
    gpPacketFifoDictionary[id] = std::move(fifo);
    return id;
  } catch (...) {
    return 0;
  }
}

tErr tPacketFifo_Destroy(uint64_t* id) {
  if (id == nullptr) return tErrParam;
  try {
    sFifoRef fifo;
    {
      std::lock_guard<std::mutex> guard(gpPacketFifoDictionaryMutex);
      auto it = gpPacketFifoDictionary.find(*id);
      if (it == gpPacketFifoDictionary.end()) return tErrNotFound;
      fifo = std::move(it->second);
      gpPacketFifoDictionary.erase(it);
    }
    {
      std::lock_guard<std::mutex> guard(fifo->lock);
      fifo->clearAndSyncWindow();
      fifo->alive = false;
    }
    fifo->notEmpty.notify_all();
    *id = 0;
    return tErrNone;
  } catch (...) {
    return tErrUnknown;
  }
}

tErr tPacketFifo_Put(uint64_t id, const tPacket* packet) {
  if (!tVALIDPACKET(packet)) return tErrParam;
  sFifoRef fifo = sLookup(id);
  if (!fifo) return tErrParam;
  try {
    std::unique_lock<std::mutex> lock(fifo->lock);
    SerialPacket entry;
    entry.id = fifo->nextId++;  // a failed copy still uses up its id
    entry.packet.reset(tPacket_Copy(packet));
    if (!entry.packet) return tErrParam;
    fifo->queue.push_back(std::move(entry));
    fifo->syncWindow();
    if (fifo->queue.size() > tPACKETFIFO_CAPACITY) {
      fifo->clearAndSyncWindow();
      return tErrNone;
    }
    lock.unlock();
    fifo->notEmpty.notify_all();
    return tErrNone;
  } catch (const std::bad_alloc&) {
    return tErrResource;
  } catch (...) {
    return tErrResource;
  }
}

tPacket* tPacketFifo_Get(uint64_t id) { return tPacketFifo_GetFirst(id, nullptr, nullptr); }

tPacket* tPacketFifo_Await(uint64_t id, uint32_t timeoutMs) {
  sFifoRef fifo = sLookup(id);
  if (!fifo) return nullptr;
  try {
    std::unique_lock<std::mutex> lock(fifo->lock);
    if (!_waitUntilNotEmpty(*fifo, lock, timeoutMs) || fifo->queue.empty()) return nullptr;
    return _stealPacketFromFifo(*fifo, fifo->queue.begin());
  } catch (...) {
    return nullptr;
  }
}

size_t tPacketFifo_AwaitLength(uint64_t id, uint32_t timeoutMs) {
  sFifoRef fifo = sLookup(id);
  if (!fifo) return 0;
  try {
    std::unique_lock<std::mutex> lock(fifo->lock);
    if (!_waitUntilNotEmpty(*fifo, lock, timeoutMs)) return 0;
    return fifo->queue.size();
  } catch (...) {
    return 0;
  }
}

tPacket* tPacketFifo_GetFirst(uint64_t id, tPacketFilter filter, const void* ref) {
  sFifoRef fifo = sLookup(id);
  if (!fifo) return nullptr;
  try {
    std::lock_guard<std::mutex> guard(fifo->lock);
    for (auto it = fifo->queue.begin(); it != fifo->queue.end(); ++it) {
      if (sAccepts(filter, it->packet.get(), ref)) return _stealPacketFromFifo(*fifo, it);
    }
    return nullptr;
  } catch (...) {
    return nullptr;
  }
}

tPacket* tPacketFifo_AwaitFirst(uint64_t id, tPacketFilter filter, const void* ref, uint32_t timeoutMs) {
  sFifoRef fifo = sLookup(id);
  if (!fifo) return nullptr;
  try {
    std::unique_lock<std::mutex> lock(fifo->lock);
    auto found = _waitUntilProcIsSatisfied(*fifo, lock, filter, ref, timeoutMs);
    if (found == fifo->queue.end()) return nullptr;
    return _stealPacketFromFifo(*fifo, found);
  } catch (...) {
    return nullptr;
  }
}

size_t tPacketFifo_DrainPackets(uint64_t id, tPacketFilter filter, const void* ref) {
  sFifoRef fifo = sLookup(id);
  if (!fifo) return 0;
  try {
    std::lock_guard<std::mutex> guard(fifo->lock);
    const size_t before = fifo->queue.size();
    // Compacts in place, keeping the order of the rest; moving entries
    // cannot fail, so the queue is never left half done.
    auto out = fifo->queue.begin();
    for (auto it = fifo->queue.begin(); it != fifo->queue.end(); ++it) {
      if (sAccepts(filter, it->packet.get(), ref)) continue;
      if (out != it) *out = std::move(*it);
      ++out;
    }
    fifo->queue.erase(out, fifo->queue.end());
    fifo->syncWindow();
    return before - fifo->queue.size();
  } catch (...) {
    return 0;
  }
}

size_t tPacketFifo_GetLength(uint64_t id) {
  sFifoRef fifo = sLookup(id);
  if (!fifo) return 0;
  std::lock_guard<std::mutex> guard(fifo->lock);
  return fifo->queue.size();
}

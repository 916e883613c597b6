// The reader and writer threads over a fake stream: the sync handshake, lost
// step, heartbeat answers, the user filter, pooled batches, the drain on
// stop and the packet log.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "sdk/core/tLink.h"
#include "tests/sdk/core/link/FakeStream.h"
#include "tests/support/CpuTime.h"

namespace {

using Owned = std::unique_ptr<tPacket, tPacketDeleter>;
using Bytes = std::vector<uint8_t>;
using linktest::FakeStream;
using linktest::MagicCount;

bool WaitFor(const std::function<bool()>& pred, double seconds = 3) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pred();
}

class LinkThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    id = tLink_Create(fake.Make());
    ASSERT_NE(id, 0);
    ASSERT_EQ(tLink_GetStatus(id), tLINK_STATUS_RUNNING);
    // The start queues route-on: 0xAF 0x01 0x01.
    ASSERT_TRUE(fake.WaitWritten([](const Bytes& b) { return b.size() >= 3; }));
    EXPECT_EQ(fake.Writes()[0], (Bytes{0xAF, 0x01, 0x01}));
    fake.ClearWrites();
  }
  void TearDown() override {
    fake.HoldWrites(false);
    if (id) tLink_Destroy(&id);
  }
  // Runs tLink_Sync in the background until the six magic packets are out.
  void BeginSync() {
    syncer = std::thread([this] { syncResult = tLink_Sync(id); });
    ASSERT_TRUE(fake.WaitWritten([](const Bytes& b) { return MagicCount(b) >= 6; }));
    ASSERT_EQ(tLink_GetStatus(id), tLINK_STATUS_SYNCING);
  }
  void EndSync() {
    if (syncer.joinable()) syncer.join();
  }
  void Put(const Bytes& payload, uint8_t address = 2) {
    Owned p(tPacket_CreateWithData(address, static_cast<uint8_t>(payload.size()), payload.data()));
    ASSERT_EQ(tLink_PutPacket(id, p.get()), tErrNone);
  }

  FakeStream fake;
  int id = 0;
  std::thread syncer;
  tErr syncResult = tErrUnknown;
};

struct SyncCase {
  const char* name;
  Bytes answer;
  int status;         // after the answer
  bool restarted;     // more magic packets went out
};

TEST_F(LinkThreads, SyncSequences) {
  const SyncCase cases[] = {
      {"two empty packets from one address", {0x06, 0x00, 0x06, 0x00}, tLINK_STATUS_RUNNING, false},
      {"second address differs", {0x06, 0x00, 0x08, 0x00}, tLINK_STATUS_SYNCING, true},
      {"odd first byte", {0x07}, tLINK_STATUS_SYNCING, true},
      {"zero first byte", {0x00}, tLINK_STATUS_SYNCING, true},
      {"a payload instead of an empty packet", {0x06, 0x01, 0x06}, tLINK_STATUS_SYNCING, true},
      {"second zero missing", {0x06, 0x00, 0x06, 0x05, 0x06}, tLINK_STATUS_SYNCING, true},
  };
  for (const SyncCase& c : cases) {
    SCOPED_TRACE(c.name);
    fake.ClearWrites();
    BeginSync();
    fake.Feed(c.answer);
    if (c.restarted) {
      // Answered by the next burst at once: well before a quiet second
      // would restart the handshake anyway.
      EXPECT_TRUE(fake.WaitWritten([](const Bytes& b) { return MagicCount(b) >= 12; }, 0.8));
    } else {
      EXPECT_TRUE(WaitFor([&] { return tLink_GetStatus(id) == c.status; }));
    }
    EXPECT_EQ(tLink_GetStatus(id), c.status);
    if (c.status == tLINK_STATUS_SYNCING) fake.Feed({0x06, 0x00, 0x06, 0x00});  // let it finish
    EndSync();
    EXPECT_EQ(syncResult, tErrNone);
    EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_RUNNING);
  }
}

TEST_F(LinkThreads, ASilentModuleLeavesTheSyncUnfinished) {
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(tLink_Sync(id), tErrNotReady);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GT(took, 1.9);
  EXPECT_LT(took, 5.0);
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_SYNCING);
}

TEST_F(LinkThreads, AnOddAddressNeverReachesTheFifoAndStartsASync) {
  fake.Feed({0x04, 0x01, 0x33});
  Owned even(tLink_AwaitPacket(id, 1000));
  ASSERT_NE(even, nullptr);
  fake.Feed({0x05, 0x00});
  EXPECT_TRUE(fake.WaitWritten([](const Bytes& b) { return MagicCount(b) >= 6; }));
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_SYNCING);
  EXPECT_EQ(tLink_GetPacket(id), nullptr);
}

TEST_F(LinkThreads, PacketsInStepReachTheInboundFifo) {
  fake.Feed({0x06, 0x03, 0x11, 0x22, 0x33, 0x06, 0x00});
  Owned p(tLink_AwaitPacket(id, 1000));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->address, 6);
  EXPECT_EQ(p->length, 3);
  EXPECT_EQ(p->data[2], 0x33);
  Owned empty(tLink_AwaitPacket(id, 1000));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->length, 0);
}

TEST_F(LinkThreads, HeartbeatsAreAnsweredAndNeverQueued) {
  fake.Feed({0x06, 0x02, 0x00, 0x00});
  EXPECT_TRUE(fake.WaitWritten([](const Bytes& b) { return b == Bytes{0x06, 0x02, 0x00, 0x02}; }));
  fake.ClearWrites();
  fake.Feed({0x08, 0x02, 0x00, 0x01});
  EXPECT_TRUE(fake.WaitWritten([](const Bytes& b) { return b == Bytes{0x08, 0x02, 0x00, 0x03}; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(tLink_GetPacket(id), nullptr);
}

uint8_t TakeEverything(const tPacket*, const void* ref) {
  ++*const_cast<std::atomic<int>*>(static_cast<const std::atomic<int>*>(ref));
  return 1;
}

TEST_F(LinkThreads, AUserFilterThatTakesEverythingLeavesNothingForTheFifoOrTheHeartbeat) {
  std::atomic<int> seen{0};  // counted on the reader thread
  ASSERT_EQ(tLink_InstallUserPacketFilter(id, TakeEverything, &seen), tErrNone);
  fake.Feed({0x06, 0x02, 0x00, 0x00, 0x06, 0x01, 0x44});
  EXPECT_TRUE(WaitFor([&] { return seen == 2; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(tLink_GetPacket(id), nullptr);
  EXPECT_TRUE(fake.Written().empty());
  ASSERT_EQ(tLink_InstallUserPacketFilter(id, nullptr, nullptr), tErrNone);
  fake.Feed({0x06, 0x01, 0x45});
  Owned p(tLink_AwaitPacket(id, 1000));
  EXPECT_NE(p, nullptr);
  EXPECT_EQ(seen, 2);
}

// Holds the writer inside a write of a first packet (route on, which always
// goes through the outbound FIFO), queues `count` packets behind it and lets
// go.
void QueueBehindABlockedWriter(FakeStream& fake, int id, int count, uint8_t length) {
  fake.HoldWrites(true);
  ASSERT_EQ(tLink_ForceRoute(id, 1), tErrNone);
  ASSERT_TRUE(WaitFor([&] { return fake.WriterBlocked(); }));
  std::vector<uint8_t> payload(length, 0x5A);
  for (int i = 0; i < count; i++) {
    Owned q(length == 0 ? tPacket_Create() : tPacket_CreateWithData(2, length, payload.data()));
    if (length == 0) {
      q->address = 2;
      q->count = 2;
    }
    ASSERT_EQ(tLink_PutPacket(id, q.get()), tErrNone);
  }
}

struct PoolCase {
  int packets;
  uint8_t payload;  // bytes per packet: serialised size is payload + 2
  std::vector<size_t> writes;
};

TEST_F(LinkThreads, PooledLinksWriteQueuedPacketsInBatches) {
  ASSERT_EQ(tLink_EnablePooledPackets(id, true), tErrNone);
  const PoolCase cases[] = {
      {200, 0, {400}},
      {150, 28, {4080, 420}},
  };
  for (const PoolCase& c : cases) {
    fake.ClearWrites();
    QueueBehindABlockedWriter(fake, id, c.packets, c.payload);
    fake.HoldWrites(false);
    const size_t total = static_cast<size_t>(c.packets) * (c.payload + 2u);
    ASSERT_TRUE(fake.WaitWritten([&](const Bytes& b) { return b.size() >= total + 3; }));
    std::vector<std::vector<uint8_t>> writes = fake.Writes();
    ASSERT_EQ(writes.size(), c.writes.size() + 1);
    EXPECT_EQ(writes[0], (Bytes{0xAF, 0x01, 0x01}));
    for (size_t i = 0; i < c.writes.size(); i++) EXPECT_EQ(writes[i + 1].size(), c.writes[i]) << i;
  }
}

TEST_F(LinkThreads, UnpooledLinksWriteEachPacketAlone) {
  QueueBehindABlockedWriter(fake, id, 5, 3);
  fake.HoldWrites(false);
  ASSERT_TRUE(fake.WaitWritten([](const Bytes& b) { return b.size() >= 3 + 5 * 5; }));
  EXPECT_EQ(fake.Writes().size(), 6u);
}

TEST_F(LinkThreads, StoppingWritesEverythingStillQueuedThenRouteOff) {
  QueueBehindABlockedWriter(fake, id, 40, 1);
  std::thread stopper([this] { EXPECT_EQ(tLink_Stop(tLink_GetRecord(id)), tErrNone); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  fake.HoldWrites(false);
  stopper.join();
  const Bytes all = fake.Written();
  ASSERT_EQ(all.size(), 3u + 40 * 3 + 3);
  EXPECT_EQ(Bytes(all.end() - 3, all.end()), (Bytes{0xAF, 0x01, 0x00}));
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_STOPPED);
  EXPECT_EQ(tLink_Stop(tLink_GetRecord(id)), tErrNone);  // stopped: nothing changes
  EXPECT_EQ(fake.Written().size(), all.size());
}

// The numbers carried by 2-byte packets from address 2, in the order they
// were written.
std::vector<int> NumberedPackets(const Bytes& written) {
  std::vector<int> numbers;
  for (size_t at = 0; at + 1 < written.size(); at += 2u + written[at + 1]) {
    if (written[at] == 2 && written[at + 1] == 2 && at + 3 < written.size()) {
      numbers.push_back(written[at + 2] << 8 | written[at + 3]);
    }
  }
  return numbers;
}

TEST_F(LinkThreads, OneCallersPacketsLeaveInOrderWhetherWrittenAtOnceOrQueued) {
  // A slow stream and route packets queued from another thread keep the
  // writer busy now and then, so some puts queue and others are written at
  // once by the caller.
  fake.SlowWrites(std::chrono::microseconds(150));
  std::atomic<bool> done{false};
  std::thread router([&] {
    while (!done) {
      tLink_ForceRoute(id, 1);
      std::this_thread::sleep_for(std::chrono::microseconds(400));
    }
  });
  constexpr int kCount = 300;
  for (int i = 0; i < kCount; i++) Put({static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
  done = true;
  router.join();
  ASSERT_TRUE(fake.WaitWritten([](const Bytes& b) { return NumberedPackets(b).size() >= kCount; }, 10));
  const std::vector<int> numbers = NumberedPackets(fake.Written());
  ASSERT_EQ(numbers.size(), static_cast<size_t>(kCount));
  for (int i = 0; i < kCount; i++) ASSERT_EQ(numbers[i], i) << "packet " << i << " out of order";
}

uint8_t HasCommand(const tPacket* p, const void* ref) {
  return p->length >= 1 && p->data[0] == *static_cast<const uint8_t*>(ref);
}

TEST_F(LinkThreads, WhileCallersAwaitTheirRepliesEverythingElseIsHandledAsBefore) {
  // Two callers wait for different replies; a heartbeat and a packet neither
  // wants arrive first, then both replies.
  const uint8_t seven = 7, nine = 9;
  Owned otherReply;
  std::thread other([&] { otherReply.reset(tLink_AwaitFirst(id, HasCommand, &seven, 3000)); });
  std::thread module([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    fake.Feed({0x06, 0x02, 0x00, 0x00, 0x06, 0x01, 0x44, 0x06, 0x02, 0x07, 0x01, 0x06, 0x02, 0x09, 0x02});
  });
  Owned mine(tLink_AwaitFirst(id, HasCommand, &nine, 3000));
  module.join();
  other.join();
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(Bytes(mine->data, mine->data + mine->length), (Bytes{0x09, 0x02}));
  ASSERT_NE(otherReply, nullptr);
  EXPECT_EQ(Bytes(otherReply->data, otherReply->data + otherReply->length), (Bytes{0x07, 0x01}));
  EXPECT_TRUE(fake.WaitWritten([](const Bytes& b) { return b == Bytes{0x06, 0x02, 0x00, 0x02}; }));
  Owned rest(tLink_GetPacket(id));
  ASSERT_NE(rest, nullptr);
  EXPECT_EQ(rest->data[0], 0x44);
  EXPECT_EQ(tLink_GetPacket(id), nullptr);
}

uint8_t Never(const tPacket*, const void*) { return 0; }

TEST_F(LinkThreads, AStopEndsACallersWaitWithinASlice) {
  double took = -1;
  Owned found;
  std::thread waiter([&] {
    const auto t0 = std::chrono::steady_clock::now();
    found.reset(tLink_AwaitFirst(id, Never, nullptr, 5000));
    took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  fake.Feed({0x06, 0x01, 0x44});  // read and queued while the caller waits
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(tLink_Stop(tLink_GetRecord(id)), tErrNone);
  waiter.join();
  EXPECT_EQ(found, nullptr);
  EXPECT_LT(took, 1.5);
  Owned queued(tLink_GetPacket(id));
  ASSERT_NE(queued, nullptr);
  EXPECT_EQ(queued->data[0], 0x44);
}

double SecondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

TEST_F(LinkThreads, AStreamErrorIsAStreamErrorWhoeverReadsTheStream) {
  // A get that fails once (a damaged frame on a serial line) gives status 6,
  // and once the line is quiet the link restarts the sync. A caller awaiting
  // a reply then stops waiting, also when it was reading the stream itself.
  for (const bool callerAwaits : {false, true}) {
    SCOPED_TRACE(callerAwaits ? "a caller awaits a reply" : "nobody awaits");
    double took = -1;
    std::thread waiter;
    if (callerAwaits) {
      waiter = std::thread([&] {
        const auto t0 = std::chrono::steady_clock::now();
        Owned p(tLink_AwaitFirst(id, Never, nullptr, 4000));
        took = SecondsSince(t0);
        EXPECT_EQ(p, nullptr);
      });
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    fake.FailNextGet(tErrPacket);
    EXPECT_TRUE(WaitFor([&] { return tLink_GetStatus(id) == tLINK_STATUS_IO_ERROR; }, 1));
    if (waiter.joinable()) waiter.join();
    if (callerAwaits) {
      EXPECT_LT(took, 1.5);
    }
    EXPECT_TRUE(fake.WaitWritten([](const Bytes& b) { return MagicCount(b) >= 6; }));
    fake.Feed({0x06, 0x00, 0x06, 0x00});
    EXPECT_TRUE(WaitFor([&] { return tLink_GetStatus(id) == tLINK_STATUS_RUNNING; }));
    fake.ClearWrites();
  }
}

TEST_F(LinkThreads, ACallerAwaitingASlowReplyCostsNoMoreThanAnIdleLink) {
  // The caller reads the quiet stream itself for three seconds; the reader
  // that stood aside for it must sleep meanwhile, not look again and again.
  const double cpu0 = qntest::CpuSeconds();
  Owned p(tLink_AwaitFirst(id, Never, nullptr, 3000));
  EXPECT_EQ(p, nullptr);
  EXPECT_LT(qntest::CpuSeconds() - cpu0, 0.03);  // 1% of a core
  // It still takes the stream up again at once when the caller lets go.
  fake.Feed({0x06, 0x01, 0x44});
  Owned next(tLink_AwaitPacket(id, 1000));
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->data[0], 0x44);
}

// Feeds the empty packet 0x06 0x00 a byte at a time, one byte every 20 ms,
// while it lives: a line that is never quiet for long, but never busy either.
class Trickle {
 public:
  explicit Trickle(FakeStream& fake)
      : thread_([this, &fake] {
          for (uint8_t b = 0x06; !done_; b = b == 0 ? 0x06 : 0) {
            fake.Feed({b});
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
          }
        }) {}
  ~Trickle() {
    done_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Transports whose get waits for a byte: the libusb path (no wait function,
// a transfer waits up to a second) and the kernel node (poll, and a read that
// waits up to a second).
TEST(LinkOverBlockingGets, AStopEndsTheReaderWhileBytesKeepComing) {
  for (const bool withWait : {false, true}) {
    SCOPED_TRACE(withWait ? "kernel node" : "libusb");
    FakeStream fake;
    fake.BlockingGets(std::chrono::milliseconds(1000));
    int id = tLink_Create(fake.Make(withWait));
    ASSERT_NE(id, 0);
    Trickle module(fake);
    Owned first(tLink_AwaitPacket(id, 2000));
    ASSERT_NE(first, nullptr);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(tLink_Stop(tLink_GetRecord(id)), tErrNone);
    EXPECT_LT(SecondsSince(t0), 2.5);
    tLink_Destroy(&id);
  }
}

TEST(LinkOverBlockingGets, ACallerReadingForItselfKeepsToItsTimeoutWhileBytesTrickle) {
  // Kernel node: the caller may read for itself, but a read there waits for
  // a byte, so a caller must read only what the wait says is there.
  FakeStream fake;
  fake.BlockingGets(std::chrono::milliseconds(50));
  int id = tLink_Create(fake.Make(true));
  ASSERT_NE(id, 0);
  double took = -1;
  std::thread waiter([&] {
    const auto t0 = std::chrono::steady_clock::now();
    Owned p(tLink_AwaitFirst(id, Never, nullptr, 1000));
    took = SecondsSince(t0);
    EXPECT_EQ(p, nullptr);
  });
  // An idle reader spends nearly all its time in the wait, without the
  // stream: the caller takes the stream over within a few of its slices.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  {
    Trickle module(fake);
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  }
  waiter.join();
  EXPECT_LT(took, 2.0);
  EXPECT_GT(tLink_DrainPackets(id, nullptr, nullptr), 0u);  // everything read was queued
  tLink_Destroy(&id);
}

TEST_F(LinkThreads, ForceRouteQueuesTheRoutePacket) {
  ASSERT_EQ(tLink_ForceRoute(id, 1), tErrNone);
  EXPECT_TRUE(fake.WaitWritten([](const Bytes& b) { return b == Bytes{0xAF, 0x01, 0x01}; }));
  EXPECT_EQ(tLink_ForceRoute(id + 1000, 1), tErrNotFound);
}

TEST_F(LinkThreads, ThePacketLogRecordsSentAndReceivedPackets) {
  uint8_t kind = 0, length = 64, buffer[64];
  EXPECT_EQ(tLink_PacketDebug_Read(id, &kind, &length, buffer), tErrNotReady);
  ASSERT_EQ(tLink_PacketDebug_Enable(id), tErrNone);
  EXPECT_EQ(tLink_PacketDebug_SetLogSize(id, 1024), tErrBusy);
  Put({3, 0x49, 0x20});
  ASSERT_TRUE(fake.WaitWritten([](const Bytes& b) { return b.size() >= 5; }));
  fake.Feed({0x02, 0x04, 3, 9, 0, 17});
  Owned reply(tLink_AwaitPacket(id, 1000));
  ASSERT_NE(reply, nullptr);
  std::vector<std::pair<uint8_t, Bytes>> records;
  for (;;) {
    length = sizeof buffer;
    if (tLink_PacketDebug_Read(id, &kind, &length, buffer) != tErrNone) break;
    records.emplace_back(kind, Bytes(buffer, buffer + length));
  }
  // The route-on packet written at start may be recorded too, when the
  // writer logged it after the enable.
  const std::pair<uint8_t, Bytes> sent{1, Bytes{2, 3, 3, 0x49, 0x20}};
  const std::pair<uint8_t, Bytes> received{2, Bytes{2, 4, 3, 9, 0, 17}};
  EXPECT_NE(std::find(records.begin(), records.end(), sent), records.end());
  EXPECT_NE(std::find(records.begin(), records.end(), received), records.end());
  EXPECT_EQ(std::count_if(records.begin(), records.end(), [](const auto& r) { return r.first == 2; }), 1);
  const uint8_t text[] = "START";
  EXPECT_EQ(tLink_PacketDebug_Write(id, 3, sizeof text, text), tErrNone);
  EXPECT_EQ(tLink_PacketDebug_Disable(id), tErrNone);
}

TEST(LinkSettings, PacketLogSizeLimits) {
  FakeStream fake;
  int id = tLink_Create(fake.Make());
  ASSERT_NE(id, 0);
  EXPECT_EQ(tLink_PacketDebug_SetLogSize(id, 0x4000001), tErrParam);
  EXPECT_EQ(tLink_PacketDebug_SetLogSize(id, 0x4000000), tErrNone);
  EXPECT_EQ(tLink_PacketDebug_SetLogSize(id, -5), tErrNone);
  EXPECT_EQ(tLink_PacketDebug_Disable(id), tErrNotReady);
  EXPECT_EQ(tLink_PacketDebug_Enable(id), tErrNone);
  EXPECT_EQ(tLink_PacketDebug_SetLogSize(id, 100), tErrBusy);
  tLink_Destroy(&id);
  EXPECT_EQ(tLink_PacketDebug_SetLogSize(12345, 10), tErrParam);
  EXPECT_EQ(tLink_PacketDebug_Enable(12345), tErrParam);
}

}  // namespace

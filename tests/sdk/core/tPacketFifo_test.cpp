#include "sdk/core/tPacketFifo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <thread>
#include <vector>

namespace {

using Owned = std::unique_ptr<tPacket, tPacketDeleter>;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

Owned Make(uint8_t command, uint8_t second = 0) {
  const uint8_t data[2] = {command, second};
  return Owned(tPacket_CreateWithData(2, 2, data));
}

// A FIFO that goes away with the test.
class FifoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    id = tPacketFifo_Create();
    ASSERT_NE(id, 0u);
  }
  void TearDown() override {
    if (id) tPacketFifo_Destroy(&id);
  }
  void Put(uint8_t command, uint8_t second = 0) {
    Owned p = Make(command, second);
    ASSERT_EQ(tPacketFifo_Put(id, p.get()), tErrNone);
  }
  uint64_t id = 0;
};

struct CommandFilter {
  uint8_t wanted;
  std::atomic<int> calls{0};
};

uint8_t AcceptCommand(const tPacket* p, const void* ref) {
  auto* f = const_cast<CommandFilter*>(static_cast<const CommandFilter*>(ref));
  ++f->calls;
  return p->data[0] == f->wanted;
}

uint8_t AcceptAll(const tPacket*, const void*) { return 1; }

TEST_F(FifoTest, GetOnAnEmptyFifoReturnsNullAtOnceAndAwaitAfterItsTimeout) {
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ(tPacketFifo_Get(id), nullptr);
  EXPECT_LT(SecondsSince(t0), 0.5);  // no wait at all, with room for a busy machine
  t0 = Clock::now();
  EXPECT_EQ(tPacketFifo_Await(id, 100), nullptr);
  const double waited = SecondsSince(t0);
  EXPECT_GE(waited, 0.095);
  EXPECT_LT(waited, 2.0);
}

TEST_F(FifoTest, APutFromAnotherThreadEndsAnAwaitAtOnce) {
  std::thread producer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Put(0x11);
  });
  Clock::time_point t0 = Clock::now();
  Owned p(tPacketFifo_Await(id, 1000));
  const double waited = SecondsSince(t0);
  producer.join();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->data[0], 0x11);
  EXPECT_LT(waited, 0.9);
}

TEST_F(FifoTest, AwaitLengthWaitsForAPacketAndLeavesItQueued) {
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ(tPacketFifo_AwaitLength(id, 100), 0u);
  EXPECT_GE(SecondsSince(t0), 0.095);
  std::thread producer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Put(0x11);
    Put(0x12);
  });
  t0 = Clock::now();
  const size_t length = tPacketFifo_AwaitLength(id, 2000);
  EXPECT_LT(SecondsSince(t0), 1.5);
  producer.join();
  EXPECT_GE(length, 1u);
  EXPECT_EQ(tPacketFifo_GetLength(id), 2u);
  Owned first(tPacketFifo_Get(id));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->data[0], 0x11);
  EXPECT_EQ(tPacketFifo_AwaitLength(id, 0), 1u);  // something there: no wait
}

TEST_F(FifoTest, PacketsComeOutInArrivalOrderAsCopiesTheCallerOwns) {
  Owned mine = Make(1);
  ASSERT_EQ(tPacketFifo_Put(id, mine.get()), tErrNone);
  mine->data[0] = 99;  // the caller's packet is its own
  Put(2);
  Put(3);
  EXPECT_EQ(tPacketFifo_GetLength(id), 3u);
  for (uint8_t expected : {1, 2, 3}) {
    Owned p(tPacketFifo_Get(id));
    ASSERT_NE(p, nullptr);
    EXPECT_NE(p.get(), mine.get());
    EXPECT_EQ(p->data[0], expected);
  }
  EXPECT_EQ(tPacketFifo_GetLength(id), 0u);
}

TEST_F(FifoTest, OverflowDiscardsTheWholeQueue) {
  for (int i = 0; i < 1000; i++) Put(1);
  EXPECT_EQ(tPacketFifo_GetLength(id), 1000u);
  Put(2);  // the 1001st
  EXPECT_EQ(tPacketFifo_GetLength(id), 0u);
  Put(3);
  EXPECT_EQ(tPacketFifo_GetLength(id), 1u);
  Owned p(tPacketFifo_Get(id));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->data[0], 3);
}

TEST_F(FifoTest, AFilteredWaitTestsEachPacketOnce) {
  Put(0x01);
  Put(0x02);
  CommandFilter filter{0x05};
  EXPECT_EQ(tPacketFifo_AwaitFirst(id, AcceptCommand, &filter, 150), nullptr);
  EXPECT_EQ(filter.calls, 2);

  // Packets that arrive during the wait wake it; each costs one more call
  // however often the waiter wakes, and the old ones are not tested again.
  CommandFilter later{0x05};
  std::thread producer([this] {
    for (uint8_t c : {0x03, 0x04, 0x06}) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      Put(c);
    }
  });
  EXPECT_EQ(tPacketFifo_AwaitFirst(id, AcceptCommand, &later, 300), nullptr);
  producer.join();
  EXPECT_EQ(later.calls, 2 + 3);
  EXPECT_EQ(tPacketFifo_GetLength(id), 5u);
}

TEST_F(FifoTest, AFilteredWaitTakesTheAcceptedPacketAndLeavesTheRestInOrder) {
  Put(0x01);
  std::thread producer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Put(0x02);
    Put(0x05, 0xAA);
    Put(0x03);
  });
  CommandFilter filter{0x05};
  Owned p(tPacketFifo_AwaitFirst(id, AcceptCommand, &filter, 1000));
  producer.join();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->data[1], 0xAA);
  for (uint8_t expected : {1, 2, 3}) {
    Owned q(tPacketFifo_Get(id));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->data[0], expected);
  }
}

TEST_F(FifoTest, GetFirstAndDrainPickByFilter) {
  for (uint8_t c : {1, 5, 2, 5, 3}) Put(c, c == 5 ? static_cast<uint8_t>(tPacketFifo_GetLength(id)) : 0);
  CommandFilter five{5};
  Owned first(tPacketFifo_GetFirst(id, AcceptCommand, &five));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->data[1], 1);  // the earlier of the two
  EXPECT_EQ(tPacketFifo_DrainPackets(id, AcceptCommand, &five), 1u);
  CommandFilter none{9};
  EXPECT_EQ(tPacketFifo_GetFirst(id, AcceptCommand, &none), nullptr);
  for (uint8_t expected : {1, 2, 3}) {
    Owned q(tPacketFifo_Get(id));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->data[0], expected);
  }
}

TEST_F(FifoTest, DrainWithAFilterThatTakesEverythingEmptiesTheFifo) {
  for (int i = 0; i < 7; i++) Put(static_cast<uint8_t>(i));
  EXPECT_EQ(tPacketFifo_DrainPackets(id, AcceptAll, nullptr), 7u);
  EXPECT_EQ(tPacketFifo_GetLength(id), 0u);
  // The window follows: a filtered wait afterwards still sees new packets.
  Put(4);
  CommandFilter four{4};
  Owned p(tPacketFifo_AwaitFirst(id, AcceptCommand, &four, 100));
  EXPECT_NE(p, nullptr);
}

TEST_F(FifoTest, AnInvalidPacketIsRefusedAndChangesNothing) {
  Put(1);
  Owned bad = Make(2);
  bad->check = 0x1234;
  EXPECT_EQ(tPacketFifo_Put(id, bad.get()), tErrParam);
  EXPECT_EQ(tPacketFifo_Put(id, nullptr), tErrParam);
  EXPECT_EQ(tPacketFifo_GetLength(id), 1u);
}

TEST(Fifo, DestroyEndsWaitsAndForgetsTheId) {
  uint64_t id = tPacketFifo_Create();
  ASSERT_NE(id, 0u);
  const uint64_t copy = id;
  std::atomic<bool> returned{false};
  tPacket* got = reinterpret_cast<tPacket*>(1);
  size_t length = 1;
  std::thread waiter([&] {
    got = tPacketFifo_Await(copy, 5000);
    returned = true;
  });
  std::thread lengthWaiter([&] { length = tPacketFifo_AwaitLength(copy, 5000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ(tPacketFifo_Destroy(&id), tErrNone);
  waiter.join();
  lengthWaiter.join();
  EXPECT_LT(SecondsSince(t0), 1.0);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(id, 0u);
  EXPECT_EQ(tPacketFifo_Destroy(&id), tErrNotFound);
  EXPECT_EQ(tPacketFifo_Destroy(nullptr), tErrParam);

  // Every operation on the dead id sees an unknown FIFO.
  Owned p = Make(1);
  EXPECT_EQ(tPacketFifo_Put(copy, p.get()), tErrParam);
  EXPECT_EQ(tPacketFifo_Get(copy), nullptr);
  EXPECT_EQ(tPacketFifo_Await(copy, 10), nullptr);
  EXPECT_EQ(tPacketFifo_AwaitFirst(copy, AcceptAll, nullptr, 10), nullptr);
  EXPECT_EQ(tPacketFifo_DrainPackets(copy, AcceptAll, nullptr), 0u);
  EXPECT_EQ(tPacketFifo_GetLength(copy), 0u);
  EXPECT_EQ(tPacketFifo_AwaitLength(copy, 10), 0u);
}

TEST(Fifo, CreatedIdsAreDistinctAndNeverZero) {
  std::set<uint64_t> seen;
  std::vector<uint64_t> ids;
  for (int i = 0; i < 50; i++) {
    uint64_t id = tPacketFifo_Create();
    EXPECT_NE(id, 0u);
    EXPECT_TRUE(seen.insert(id).second);
    ids.push_back(id);
  }
  for (uint64_t& id : ids) EXPECT_EQ(tPacketFifo_Destroy(&id), tErrNone);
}

// Several producers and consumers on one FIFO, each consumer waiting for its
// own producer's packets with a filter; every packet arrives exactly once and
// in its producer's order. Then a destroy while consumers wait.
struct ProducerFilter {
  uint8_t producer;
};

uint8_t AcceptProducer(const tPacket* p, const void* ref) {
  return p->data[0] == static_cast<const ProducerFilter*>(ref)->producer;
}

TEST(Fifo, ProducersAndConsumersUnderLoadThenDestroyWhileWaiting) {
  uint64_t id = tPacketFifo_Create();
  ASSERT_NE(id, 0u);
  constexpr int kPairs = 4;
  constexpr int kPerProducer = 150;  // stays far below the capacity
  std::atomic<int> wrongOrder{0}, received{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < kPairs; k++) {
    threads.emplace_back([id, k] {
      for (int i = 0; i < kPerProducer; i++) {
        const uint8_t data[2] = {static_cast<uint8_t>(k), static_cast<uint8_t>(i)};
        Owned p(tPacket_CreateWithData(2, 2, data));
        while (tPacketFifo_Put(id, p.get()) != tErrNone) std::this_thread::yield();
        if (i % 16 == 0) std::this_thread::yield();
      }
    });
    threads.emplace_back([id, k, &wrongOrder, &received] {
      ProducerFilter f{static_cast<uint8_t>(k)};
      for (int i = 0; i < kPerProducer; i++) {
        Owned p(tPacketFifo_AwaitFirst(id, AcceptProducer, &f, 5000));
        if (!p) return;
        if (p->data[1] != i) ++wrongOrder;
        ++received;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(received, kPairs * kPerProducer);
  EXPECT_EQ(wrongOrder, 0);
  EXPECT_EQ(tPacketFifo_GetLength(id), 0u);

  std::vector<std::thread> waiters;
  std::atomic<int> ended{0};
  for (int k = 0; k < 3; k++) {
    waiters.emplace_back([id, k, &ended] {
      ProducerFilter f{static_cast<uint8_t>(k)};
      tPacket* p = tPacketFifo_AwaitFirst(id, AcceptProducer, &f, 10000);
      if (p == nullptr) ++ended;
      tPacket_Destroy(&p);
    });
  }
  std::thread putter([id] {
    for (int i = 0; i < 200; i++) {
      Owned p = Make(9);
      if (tPacketFifo_Put(id, p.get()) != tErrNone) return;  // destroyed
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ(tPacketFifo_Destroy(&id), tErrNone);
  for (auto& t : waiters) t.join();
  putter.join();
  EXPECT_LT(SecondsSince(t0), 2.0);
  EXPECT_EQ(ended, 3);
}

}  // namespace

// The link engine against the module simulator in this process: TCP and
// serial-line links, sharing and use counts, the failures of creation,
// reset, await first on a failed link, and the broker creation functions
// that have no broker yet.
#include "sdk/core/tLink.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sdk/api/tUEI.h"
#include "sdk/net/tLinkBroker.h"
#include "sim/module/Simulator.h"
#include "tests/sdk/core/link/FakeStream.h"
#include "tests/support/CpuTime.h"

namespace {

using Owned = std::unique_ptr<tPacket, tPacketDeleter>;
using Clock = std::chrono::steady_clock;
using qntest::CpuSeconds;

double SecondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

struct ReplyMatch {
  uint8_t address, command, option;
};

uint8_t MatchReply(const tPacket* p, const void* ref) {
  const auto* m = static_cast<const ReplyMatch*>(ref);
  return p->address == m->address && p->length >= 3 && p->data[0] == m->command && p->data[1] == m->option;
}

// A UEI get of a 32-bit system option through the engine; 0 when no reply.
uint32_t GetSystem32(int id, uint8_t option, uint8_t address = 2) {
  const uint8_t request[3] = {cmdSYSTEM, static_cast<uint8_t>(option | UEI_OPT_GET), UEI_IDX_REQUEST};
  Owned p(tPacket_CreateWithData(address, 3, request));
  if (tLink_PutPacket(id, p.get()) != tErrNone) return 0;
  ReplyMatch m{address, cmdSYSTEM, option};
  Owned reply(tLink_AwaitFirst(id, MatchReply, &m, 2000));
  if (!reply || reply->length != 7) return 0;
  return tUEI_RetrieveInt(reply->data + 3);
}

class LinkEngine : public ::testing::Test {
 protected:
  void Start(const std::string& spec) {
    qnsim::ModuleSpec s;
    std::string error;
    ASSERT_TRUE(qnsim::ParseModuleSpec(spec, &s, &error)) << error;
    ASSERT_TRUE(sim.Start({s}, [](const std::string&) {}, &error)) << error;
  }
  qnsim::Simulator sim;
};

TEST_F(LinkEngine, ATcpLinkRunsInSyncAndCarriesAUEIGet) {
  Start("serial=40F5849A,tcp");
  int id = tLink_CreateTCPIP(0x40F5849A, kLoopback, sim.TcpPort(0x40F5849A));
  ASSERT_NE(id, 0);
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_RUNNING);
  EXPECT_EQ(GetSystem32(id, 9), 0x40F5849Au);
  EXPECT_EQ(tLink_Sync(id), tErrNone);
  EXPECT_EQ(GetSystem32(id, 9), 0x40F5849Au);
  EXPECT_EQ(tLink_Destroy(&id), tErrNone);
  EXPECT_EQ(id, 0);
}

TEST_F(LinkEngine, LinksToOneModuleAreSharedAndCounted) {
  Start("serial=40F5849A,tcp");
  const uint16_t port = sim.TcpPort(0x40F5849A);
  int first = tLink_CreateTCPIP(0x40F5849A, kLoopback, port);
  int second = tLink_CreateTCPIP(0x40F5849A, kLoopback, port);
  ASSERT_NE(first, 0);
  EXPECT_EQ(second, first);
  const int id = first;
  EXPECT_EQ(tLink_Destroy(&first), tErrNone);
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_RUNNING);
  EXPECT_EQ(GetSystem32(id, 9), 0x40F5849Au);
  EXPECT_EQ(tLink_Destroy(&second), tErrNone);
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_NO_LINK);
  int again = id;
  EXPECT_EQ(tLink_Destroy(&again), tErrParam);
  EXPECT_EQ(again, 0);
}

// A user filter that keeps the reader inside it, holding the link's filter
// mutex, until the test opens the gate.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool open = false;
};

uint8_t HoldTheReader(const tPacket*, const void* ref) {
  auto* gate = const_cast<Gate*>(static_cast<const Gate*>(ref));
  std::unique_lock<std::mutex> lock(gate->mutex);
  gate->entered = true;
  gate->changed.notify_all();
  gate->changed.wait(lock, [gate] { return gate->open; });
  return 0;
}

TEST_F(LinkEngine, ALinkWhoseLastUseIsGoingIsNotSharedAgain) {
  Start("serial=40F5849A,tcp");
  const uint16_t port = sim.TcpPort(0x40F5849A);
  int id = tLink_CreateTCPIP(0x40F5849A, kLoopback, port);
  ASSERT_NE(id, 0);
  Gate gate;
  ASSERT_EQ(tLink_InstallUserPacketFilter(id, HoldTheReader, &gate), tErrNone);
  const uint8_t request[3] = {cmdSYSTEM, 9 | UEI_OPT_GET, UEI_IDX_REQUEST};
  Owned p(tPacket_CreateWithData(2, 3, request));
  ASSERT_EQ(tLink_PutPacket(id, p.get()), tErrNone);
  {
    std::unique_lock<std::mutex> lock(gate.mutex);
    ASSERT_TRUE(gate.changed.wait_for(lock, std::chrono::seconds(5), [&] { return gate.entered; }));
  }
  // The last destroy waits for the filter it removes; a creation for the
  // same module meanwhile must make a link of its own.
  std::thread destroyer([id] {
    int last = id;
    tLink_Destroy(&last);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  int again = tLink_CreateTCPIP(0x40F5849A, kLoopback, port);
  {
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.open = true;
  }
  gate.changed.notify_all();
  destroyer.join();
  ASSERT_NE(again, 0);
  EXPECT_NE(again, id);
  EXPECT_EQ(tLink_GetStatus(again), tLINK_STATUS_RUNNING);
  EXPECT_EQ(GetSystem32(again, 9), 0x40F5849Au);
  tLink_Destroy(&again);
}

TEST_F(LinkEngine, ATcpLinkToNobodyFails) {
  Start("serial=40F5849A,tcp");
  const uint16_t port = sim.TcpPort(0x40F5849A);
  sim.Stop();
  EXPECT_EQ(tLink_CreateTCPIP(0x40F5849A, kLoopback, port), 0);
}

TEST_F(LinkEngine, ASerialLineLinkRunsOverCobsFrames) {
  Start("serial=1234ABCD,serial-line,address=4");
  int id = tLink_CreateSerial(0x1234ABCD, sim.SerialLinePath(0x1234ABCD).c_str(), 115200);
  ASSERT_NE(id, 0);
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_RUNNING);
  EXPECT_EQ(GetSystem32(id, 9, 4), 0x1234ABCDu);
  // The handshake completes over the framed line too.
  EXPECT_EQ(tLink_Sync(id), tErrNone);
  EXPECT_EQ(GetSystem32(id, 9, 4), 0x1234ABCDu);
  tLink_Destroy(&id);
}

TEST_F(LinkEngine, AnUnsupportedBaudRateLeavesNoEntry) {
  linktest::FakeStream a, b;
  int before = tLink_Create(a.Make());
  ASSERT_NE(before, 0);
  EXPECT_EQ(tLink_CreateSerial(0x1234ABCD, "/dev/null", 14400), 0);
  int after = tLink_Create(b.Make());
  EXPECT_EQ(after, before + 1);  // no id went to the refused link
  tLink_Destroy(&before);
  tLink_Destroy(&after);
}

TEST_F(LinkEngine, ResetOfASerialLinkCannotMakeAStreamAndLeavesStatus6) {
  Start("serial=1234ABCD,serial-line");
  int id = tLink_CreateSerial(0x1234ABCD, sim.SerialLinePath(0x1234ABCD).c_str(), 115200);
  ASSERT_NE(id, 0);
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ(tLink_Reset(id), tErrParam);  // the route-on packet has no FIFO
  const double took = SecondsSince(t0);
  EXPECT_GT(took, 1.9);
  EXPECT_LT(took, 6.0);
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_IO_ERROR);

  // Without a stream and FIFOs the threads idle instead of spinning: a
  // spinning thread would take most of a core in this second.
  const double cpu0 = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LT(CpuSeconds() - cpu0, 0.3);

  // Await first on the failed link gives up at once.
  t0 = Clock::now();
  ReplyMatch m{2, cmdSYSTEM, 9};
  EXPECT_EQ(tLink_AwaitFirst(id, MatchReply, &m, 3000), nullptr);
  EXPECT_LT(SecondsSince(t0), 0.5);
  tLink_Destroy(&id);
}

uint8_t TakeAll(const tPacket*, const void*) { return 1; }

TEST_F(LinkEngine, ResetOfATcpLinkReconnects) {
  Start("serial=40F5849A,tcp");
  int id = tLink_CreateTCPIP(0x40F5849A, kLoopback, sim.TcpPort(0x40F5849A));
  ASSERT_NE(id, 0);
  ASSERT_EQ(tLink_PacketDebug_Enable(id), tErrNone);
  ASSERT_EQ(tLink_InstallUserPacketFilter(id, TakeAll, nullptr), tErrNone);
  EXPECT_EQ(tLink_Reset(id), tErrNone);
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_RUNNING);
  // The reply reaches the FIFO: the reset removed the filter that took all.
  EXPECT_EQ(GetSystem32(id, 9), 0x40F5849Au);
  // The reset replaced the packet log, leaving none behind (and freed the
  // old one: the leak checker of the test build sees the rest).
  uint8_t kind, length = 64, buffer[64];
  EXPECT_EQ(tLink_PacketDebug_Read(id, &kind, &length, buffer), tErrNotReady);
  tLink_Destroy(&id);
}

uint8_t TakeNothing(const tPacket*, const void*) { return 0; }

TEST_F(LinkEngine, AResetWhileACallerAwaitsAReplyEndsTheWaitAndTheLinkWorksOn) {
  Start("serial=40F5849A,tcp");
  int id = tLink_CreateTCPIP(0x40F5849A, kLoopback, sim.TcpPort(0x40F5849A));
  ASSERT_NE(id, 0);
  ASSERT_EQ(GetSystem32(id, 9), 0x40F5849Au);
  for (int round = 0; round < 5; round++) {
    SCOPED_TRACE(round);
    std::atomic<bool> waiting{false};
    double took = -1;
    std::thread waiter([&] {
      const Clock::time_point t0 = Clock::now();
      waiting = true;
      // Replies keep coming while it waits, none of them for it.
      Owned p(tLink_AwaitFirst(id, TakeNothing, nullptr, 4000));
      took = SecondsSince(t0);
      EXPECT_EQ(p, nullptr);
    });
    while (!waiting) std::this_thread::yield();
    for (int i = 0; i < 20; i++) EXPECT_EQ(GetSystem32(id, 9), 0x40F5849Au);
    EXPECT_EQ(tLink_Reset(id), tErrNone);
    waiter.join();
    EXPECT_LT(took, 2.0);
    EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_RUNNING);
    EXPECT_EQ(GetSystem32(id, 9), 0x40F5849Au);
  }
  tLink_Destroy(&id);
}

TEST_F(LinkEngine, AResetWhileTheLogIsReadAndWrittenIsSafe) {
  Start("serial=40F5849A,tcp");
  int id = tLink_CreateTCPIP(0x40F5849A, kLoopback, sim.TcpPort(0x40F5849A));
  ASSERT_NE(id, 0);
  // A logger drains the log on its own thread, and writes into it, while
  // the link is reset (and its log switched on again after each reset).
  std::atomic<bool> done{false};
  auto drain = [&] {
    const uint8_t text[] = "START";
    while (!done) {
      tLink_PacketDebug_Write(id, 3, sizeof text, text);
      uint8_t kind, length = 64, buffer[64];
      tLink_PacketDebug_Read(id, &kind, &length, buffer);
    }
  };
  std::thread logger(drain), writer(drain);
  for (int i = 0; i < 20; i++) {
    ASSERT_EQ(tLink_PacketDebug_Enable(id), tErrNone);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(tLink_Reset(id), tErrNone);
  }
  done = true;
  logger.join();
  writer.join();
  EXPECT_EQ(GetSystem32(id, 9), 0x40F5849Au);
  tLink_Destroy(&id);
}

TEST_F(LinkEngine, UnknownIdsAreRefused) {
  const int unknown = 987654;
  Owned p(tPacket_CreateWithData(2, 1, reinterpret_cast<const uint8_t*>("x")));
  EXPECT_EQ(tLink_PutPacket(unknown, p.get()), tErrParam);
  EXPECT_EQ(tLink_GetPacket(unknown), nullptr);
  EXPECT_EQ(tLink_AwaitPacket(unknown, 10), nullptr);
  EXPECT_EQ(tLink_GetFirst(unknown, nullptr, nullptr), nullptr);
  EXPECT_EQ(tLink_DrainPackets(unknown, nullptr, nullptr), 0u);
  EXPECT_EQ(tLink_GetStatus(unknown), tLINK_STATUS_NO_LINK);
  EXPECT_EQ(tLink_Sync(unknown), tErrParam);
  EXPECT_EQ(tLink_Reset(unknown), tErrParam);
  EXPECT_EQ(tLink_Start(unknown), tErrParam);
  EXPECT_EQ(tLink_Stop(nullptr), tErrParam);
  EXPECT_EQ(tLink_InstallUserPacketFilter(unknown, nullptr, nullptr), tErrParam);
  EXPECT_EQ(tLink_EnablePooledPackets(unknown, true), tErrParam);
  EXPECT_EQ(tLink_Destroy(nullptr), tErrParam);
}

TEST_F(LinkEngine, BrokerCreationSharesByReferenceOnly) {
  linktest::FakeStream fake;
  int id = tLink_Create(fake.Make());
  ASSERT_NE(id, 0);
  EXPECT_EQ(tLink_CreateClient(kLoopback, 9000, 0), 0);
  EXPECT_EQ(tLink_CreateClient(kLoopback, 9000, 123456), 0);
  int shared = tLink_CreateClient(kLoopback, 9000, id);
  EXPECT_EQ(shared, id);
  EXPECT_EQ(tLink_Destroy(&shared), tErrNone);
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_RUNNING);  // one use left
  uint16_t port = 0;
  uint32_t address = kLoopback;
  EXPECT_EQ(tLink_CreateServer(id, &port, &address, true), 0);
  EXPECT_EQ(tLink_CreateServer(id, nullptr, &address, true), 0);
  EXPECT_EQ(tLink_CreateServer(0, &port, &address, true), 0);
  tLink_Destroy(&id);
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_NO_LINK);
}

TEST_F(LinkEngine, ModuleQueriesOfTheBrokerSetUp) {
  Start("serial=40F5849A,model=21,address=6,tcp");
  int id = tLink_CreateTCPIP(0x40F5849A, kLoopback, sim.TcpPort(0x40F5849A));
  ASSERT_NE(id, 0);
  uint8_t address = 0, model = 0;
  EXPECT_EQ(_tLink_GetModuleAddress(id, &address), tErrNone);
  EXPECT_EQ(address, 6);
  EXPECT_EQ(_tLink_GetModel(id, address, &model), tErrNone);
  EXPECT_EQ(model, 21);
  EXPECT_EQ(_tLink_GetModel(id, 8, &model), tErrTimeout);  // nobody at 8
  tLink_Destroy(&id);
}

}  // namespace

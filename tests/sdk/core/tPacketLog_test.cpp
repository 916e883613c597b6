#include "sdk/core/tPacketLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sdk/core/tLogger.h"
#include "tests/support/Process.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct LogDeleter {
  void operator()(tPacketLog* l) const { tPacketLog_Destroy(&l); }
};
using OwnedLog = std::unique_ptr<tPacketLog, LogDeleter>;

tErr Take(tPacketLog* log, uint8_t* kind, Bytes* out, uint8_t capacity = 64) {
  uint8_t buffer[255];
  uint8_t length = capacity;
  tErr e = tPacketLog_Get(log, kind, &length, buffer);
  out->assign(buffer, buffer + (e == tErrNone ? length : 0));
  if (e == tErrOverrun) out->resize(length);  // reports the needed length
  return e;
}

TEST(PacketLog, AFullRingDropsItsOldestRecords) {
  OwnedLog log(tPacketLog_Create(16));
  ASSERT_NE(log, nullptr);
  const Bytes first(8, 0x11), second(8, 0x22);
  EXPECT_EQ(tPacketLog_Put(log.get(), 1, 8, first.data()), tErrNone);
  EXPECT_EQ(tPacketLog_Put(log.get(), 2, 8, second.data()), tErrNone);
  uint8_t kind = 0;
  Bytes got;
  EXPECT_EQ(Take(log.get(), &kind, &got), tErrNone);
  EXPECT_EQ(kind, 2);
  EXPECT_EQ(got, second);
  EXPECT_EQ(Take(log.get(), &kind, &got), tErrNotFound);
}

TEST(PacketLog, ARecordThatCouldNeverFitIsRefused) {
  OwnedLog log(tPacketLog_Create(16));
  const Bytes small(3, 0x33), big(14, 0x44);
  ASSERT_EQ(tPacketLog_Put(log.get(), 3, 3, small.data()), tErrNone);
  EXPECT_EQ(tPacketLog_Put(log.get(), 1, 14, big.data()), tErrOverrun);
  uint8_t kind = 0;
  Bytes got;
  EXPECT_EQ(Take(log.get(), &kind, &got), tErrNone);
  EXPECT_EQ(got, small);  // unchanged
}

TEST(PacketLog, ASmallBufferLearnsTheLengthAndTheRecordStays) {
  OwnedLog log(tPacketLog_Create(64));
  const Bytes six = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(tPacketLog_Put(log.get(), 2, 6, six.data()), tErrNone);
  uint8_t kind = 0;
  Bytes got;
  EXPECT_EQ(Take(log.get(), &kind, &got, 4), tErrOverrun);
  EXPECT_EQ(got.size(), 6u);
  EXPECT_EQ(Take(log.get(), &kind, &got, 6), tErrNone);
  EXPECT_EQ(got, six);
}

TEST(PacketLog, RecordsWrapAroundTheRingInOrder) {
  OwnedLog log(tPacketLog_Create(23));
  for (int round = 0; round < 20; round++) {
    const Bytes a(static_cast<size_t>(round % 5 + 1), static_cast<uint8_t>(round));
    ASSERT_EQ(tPacketLog_Put(log.get(), 1, static_cast<uint8_t>(a.size()), a.data()), tErrNone);
    uint8_t kind = 0;
    Bytes got;
    ASSERT_EQ(Take(log.get(), &kind, &got), tErrNone);
    EXPECT_EQ(got, a) << round;
  }
  tPacketLog* none = nullptr;
  EXPECT_EQ(tPacketLog_Destroy(&none), tErrNone);
}

struct LoggerProbe {
  std::atomic<int> calls{0};
  std::atomic<int> disableResult{-1};
  tLogger* logger = nullptr;
};
LoggerProbe* sProbe = nullptr;

void WriteLine(tFileRef file, uint32_t argument) {
  if (sProbe->calls++ == 0) {
    // From inside the record writer a disable does nothing.
    sProbe->disableResult = tLogger_Disable(sProbe->logger);
  }
  tFile_Printf(file, "%u\n", argument);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TEST(Logger, RunsTheRecordWriterUntilDisabled) {
  qntest::TempDir dir;
  LoggerProbe probe;
  sProbe = &probe;
  probe.logger = tLogger_Create(7, WriteLine, (dir / "log.txt").c_str());
  ASSERT_NE(probe.logger, nullptr);
  EXPECT_EQ(tLogger_Enable(probe.logger), tErrNone);
  EXPECT_EQ(tLogger_Enable(probe.logger), tErrNone);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(probe.disableResult, tErrNone);
  EXPECT_GT(probe.calls, 3);  // kept running after that disable
  EXPECT_EQ(tLogger_Disable(probe.logger), tErrNone);
  const int calls = probe.calls;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(probe.calls, calls);
  EXPECT_EQ(tLogger_Destroy(&probe.logger), tErrNone);
  EXPECT_EQ(probe.logger, nullptr);
  const std::string text = qntest::ReadFile(dir / "log.txt");
  EXPECT_EQ(text.substr(0, 2), "7\n");
  EXPECT_EQ(tLogger_Create(1, WriteLine, (dir / "no/such/dir").c_str()), nullptr);
  EXPECT_EQ(tLogger_Enable(nullptr), tErrParam);
  EXPECT_EQ(tLogger_Destroy(nullptr), tErrNone);
}

}  // namespace

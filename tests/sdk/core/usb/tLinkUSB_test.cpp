// Links over the virtual USB bus and the kernel-driver node, with the module
// simulator in this process.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sdk/api/tUEI.h"
#include "sdk/core/tLink.h"
#include "sdk/core/tUSB.h"
#include "sim/module/Simulator.h"
#include "tests/support/CpuTime.h"

namespace {

using Owned = std::unique_ptr<tPacket, tPacketDeleter>;
using Clock = std::chrono::steady_clock;
using qntest::CpuSeconds;

uint8_t MatchSerialReply(const tPacket* p, const void*) {
  return p->length == 7 && p->data[0] == cmdSYSTEM && p->data[1] == 9;
}

uint32_t GetSerial(int id) {
  const uint8_t request[3] = {cmdSYSTEM, 9 | UEI_OPT_GET, UEI_IDX_REQUEST};
  Owned p(tPacket_CreateWithData(2, 3, request));
  if (tLink_PutPacket(id, p.get()) != tErrNone) return 0;
  Owned reply(tLink_AwaitFirst(id, MatchSerialReply, nullptr, 3000));
  return reply ? tUEI_RetrieveInt(reply->data + 3) : 0;
}

class UsbLinks : public ::testing::Test {
 protected:
  void Start(const std::vector<std::string>& specs) {
    std::vector<qnsim::ModuleSpec> parsed;
    for (const std::string& text : specs) {
      qnsim::ModuleSpec s;
      std::string error;
      ASSERT_TRUE(qnsim::ParseModuleSpec(text, &s, &error)) << error;
      parsed.push_back(s);
    }
    std::string error;
    ASSERT_TRUE(sim.Start(parsed, [](const std::string&) {}, &error)) << error;
  }
  void TearDown() override {
    sim.Stop();
    Quillnode_libusb_exit();
  }
  qnsim::Simulator sim;
};

TEST_F(UsbLinks, AUsbLinkSynchronisesAndCarriesAUEIGet) {
  Start({"serial=40F5849A,usb", "serial=11112222,usb"});
  int id = tLink_CreateUSB(0x40F5849A);
  ASSERT_NE(id, 0);
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_RUNNING);
  EXPECT_EQ(GetSerial(id), 0x40F5849Au);
  int other = tLink_CreateUSB(0x11112222);
  ASSERT_NE(other, 0);
  EXPECT_NE(other, id);
  EXPECT_EQ(GetSerial(other), 0x11112222u);
  tLink_Destroy(&other);
  tLink_Destroy(&id);
}

TEST_F(UsbLinks, TwoCreationsForOneSerialNumberShareTheLink) {
  Start({"serial=40F5849A,usb"});
  int first = tLink_CreateUSB(0x40F5849A);
  int second = tLink_CreateUSB(0x40F5849A);
  ASSERT_NE(first, 0);
  EXPECT_EQ(first, second);
  const int id = first;
  tLink_Destroy(&first);
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_RUNNING);
  EXPECT_TRUE(sim.UsbDevice(0x40F5849A)->claimed());
  tLink_Destroy(&second);
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_NO_LINK);
  EXPECT_FALSE(sim.UsbDevice(0x40F5849A)->claimed());
}

TEST_F(UsbLinks, AModuleThatNeverAnswersTheSyncFailsCreationAfterAboutTwoSeconds) {
  Start({"serial=40F5849A,usb,silent"});
  const Clock::time_point t0 = Clock::now();
  EXPECT_EQ(tLink_CreateUSB(0x40F5849A), 0);
  const double took = std::chrono::duration<double>(Clock::now() - t0).count();
  EXPECT_GT(took, 1.9);
  EXPECT_LT(took, 6.0);
  // No entry is left: the device is free again for the next try.
  EXPECT_FALSE(sim.UsbDevice(0x40F5849A)->claimed());
}

TEST_F(UsbLinks, AbsentAndBusyModulesGiveNoLink) {
  Start({"serial=40F5849A,usb,busy"});
  EXPECT_EQ(tLink_CreateUSB(0x40F5849A), 0);
  EXPECT_EQ(tLink_CreateUSB(0x0BADF00D), 0);
}

TEST_F(UsbLinks, TheKernelNodeCarriesTheLinkWhenItExists) {
  Start({"serial=40F5849A,usb,kernel"});
  int id = tLink_CreateUSB(0x40F5849A);
  ASSERT_NE(id, 0);
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_RUNNING);
  EXPECT_EQ(GetSerial(id), 0x40F5849Au);
  EXPECT_FALSE(sim.UsbDevice(0x40F5849A)->claimed());
  tLink_Destroy(&id);
}

TEST_F(UsbLinks, AKernelNodeThatGoesAwayLeavesAnIdleReader) {
  Start({"serial=40F5849A,kernel"});
  int id = tLink_CreateUSB(0x40F5849A);
  ASSERT_NE(id, 0);
  sim.Stop();  // the node hangs up: it polls ready for ever and reads nothing
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const double cpu0 = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LT(CpuSeconds() - cpu0, 0.3);  // a spinning reader takes most of a core
  tLink_Destroy(&id);
}

TEST_F(UsbLinks, AnUnpluggedModuleLeavesTheLinkWithAStreamError) {
  Start({"serial=40F5849A,usb"});
  int id = tLink_CreateUSB(0x40F5849A);
  ASSERT_NE(id, 0);
  ASSERT_TRUE(sim.Unplug(0x40F5849A));
  const Clock::time_point t0 = Clock::now();
  while (tLink_GetStatus(id) != tLINK_STATUS_IO_ERROR &&
         std::chrono::duration<double>(Clock::now() - t0).count() < 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(tLink_GetStatus(id), tLINK_STATUS_IO_ERROR);
  // Back on the bus under a new device number, a reset finds it again.
  ASSERT_TRUE(sim.Replug(0x40F5849A));
  EXPECT_EQ(tLink_Reset(id), tErrNone);
  EXPECT_EQ(tLink_Sync(id), tErrNone);
  EXPECT_EQ(GetSerial(id), 0x40F5849Au);
  tLink_Destroy(&id);
}

}  // namespace

// The virtual USB bus as an independent client sees it: lsusb and a plain
// libusb program (usb-probe) in other processes, with the testbed's
// environment.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/vusb/VirtualUsbBus.h"
#include "tests/support/Process.h"

namespace {

// The environment of a client of the bus. The clients here are built with
// the sanitizers, whose runtime then no longer loads first.
std::map<std::string, std::string> ClientEnv(const qnsim::VirtualUsbBus& bus) {
  std::map<std::string, std::string> env = bus.ClientEnvironment();
  const char* asan = getenv("ASAN_OPTIONS");
  env["ASAN_OPTIONS"] = std::string(asan && *asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0";
  return env;
}

// Sends every byte back, so a write shows up in the next read. The way back
// is set once the device exists, while the bus may already deliver.
class Echo : public qnsim::UsbFunction {
 public:
  void FromHost(const uint8_t* data, size_t length) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (out_) out_(data, length);
  }
  void SetWayBack(std::function<void(const uint8_t*, size_t)> out) {
    std::lock_guard<std::mutex> hold(lock_);
    out_ = std::move(out);
  }

 private:
  std::mutex lock_;
  std::function<void(const uint8_t*, size_t)> out_;
};

// Holds the testbed's thread inside the first bulk OUT transfer until it is
// let go, then sends the bytes back through the device.
class Latch : public qnsim::UsbFunction {
 public:
  void FromHost(const uint8_t* data, size_t length) override {
    std::unique_lock<std::mutex> hold(lock_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait_for(hold, std::chrono::seconds(20), [this] { return released_; });
    if (device_) device_->ToHost(data, length);
  }
  void SetDevice(qnsim::UsbfsDevice* device) {
    std::lock_guard<std::mutex> hold(lock_);
    device_ = device;
  }
  bool WaitEntered() {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(20), [this] { return entered_; });
  }
  void Release() {
    std::lock_guard<std::mutex> hold(lock_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  qnsim::UsbfsDevice* device_ = nullptr;
  bool entered_ = false;
  bool released_ = false;
};

class VirtualUsbBusTest : public ::testing::Test {
 protected:
  qnsim::UsbfsDevice* Plug(const qnsim::UsbIdentity& id) {
    std::string error;
    qnsim::UsbfsDevice* d = bus.Plug(id, &echo, &error);
    EXPECT_NE(d, nullptr) << error;
    echo.SetWayBack([d](const uint8_t* p, size_t n) { d->ToHost(p, n); });
    return d;
  }
  qnsim::UsbIdentity Module(const std::string& serial = "40F5849A") {
    qnsim::UsbIdentity id;
    id.serial = serial;
    id.productId = 0x0011;
    return id;
  }
  qntest::RunResult Probe(const std::vector<std::string>& args, double timeout = 20) {
    qntest::RunOptions o;
    o.env = ClientEnv(bus);
    o.timeoutSeconds = timeout;
    return qntest::Run(qntest::BinaryPath("tests/sim/usb-probe"), args, o);
  }
  qntest::RunResult Lsusb(const std::vector<std::string>& args) {
    qntest::RunOptions o;
    o.env = ClientEnv(bus);
    return qntest::Run("/usr/bin/lsusb", args, o);
  }

  // The echo outlives the bus, which may call it until it is gone.
  Echo echo;
  qnsim::VirtualUsbBus bus;
};

TEST_F(VirtualUsbBusTest, LsusbSeesTheModuleInterfaceEndpointsAndSerialNumber) {
  Plug(Module());
  qntest::RunResult r = Lsusb({"-v", "-d", "24ff:"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("idVendor           0x24ff"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("idProduct          0x0011"), std::string::npos);
  EXPECT_NE(r.out.find("bInterfaceClass       255"), std::string::npos);
  EXPECT_NE(r.out.find("bInterfaceSubClass    136"), std::string::npos);
  EXPECT_NE(r.out.find("bInterfaceProtocol     16"), std::string::npos);
  EXPECT_NE(r.out.find("bEndpointAddress     0x81  EP 1 IN"), std::string::npos);
  EXPECT_NE(r.out.find("bEndpointAddress     0x02  EP 2 OUT"), std::string::npos);
  EXPECT_NE(r.out.find("Transfer Type            Bulk"), std::string::npos);
  EXPECT_NE(r.out.find("iSerial                 3 40F5849A"), std::string::npos);
  EXPECT_EQ(r.out.find("Couldn't open device"), std::string::npos) << r.err;
}

TEST_F(VirtualUsbBusTest, BulkTransfersReachTheModuleAndComeBack) {
  Plug(Module());
  qntest::RunResult r = Probe({"40F5849A", "claim", "write:AD00", "read:1024:1000", "release"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("claim 0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("write 0 2\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("read 0 2 AD00 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("release 0\n"), std::string::npos) << r.out;
}

TEST_F(VirtualUsbBusTest, AReadWithNothingToSayTimesOutWithoutSpinning) {
  Plug(Module());
  qntest::RunResult r = Probe({"40F5849A", "claim", "read:1024:1000"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  size_t at = r.out.find("read -7 0 ");
  ASSERT_NE(at, std::string::npos) << r.out;
  double elapsed = 0, cpu = 0;
  sscanf(r.out.c_str() + r.out.find("elapsed=", at), "elapsed=%lf cpu=%lf", &elapsed, &cpu);
  EXPECT_GT(elapsed, 0.9);
  // A client that spins on its wait burns the whole second.
  EXPECT_LT(cpu, 0.5);
}

TEST_F(VirtualUsbBusTest, ClaimFailsWhenTheInterfaceIsBusy) {
  qnsim::UsbfsDevice* d = Plug(Module());
  d->SetBusy(true);
  qntest::RunResult r = Probe({"40F5849A", "claim"});
  EXPECT_NE(r.out.find("claim -6\n"), std::string::npos) << r.out;
  d->SetBusy(false);
  r = Probe({"40F5849A", "claim"});
  EXPECT_NE(r.out.find("claim 0\n"), std::string::npos) << r.out;
}

TEST_F(VirtualUsbBusTest, AnInterfaceHeldByAnotherProcessIsBusy) {
  qnsim::UsbfsDevice* d = Plug(Module());
  qntest::Background holder(qntest::BinaryPath("tests/sim/usb-probe"), {"40F5849A", "claim", "hold:3000"},
                            ClientEnv(bus));
  ASSERT_FALSE(holder.WaitForLine("claim 0").empty()) << holder.Stdout() << holder.Stderr();
  EXPECT_TRUE(d->claimed());
  qntest::RunResult r = Probe({"40F5849A", "claim"});
  EXPECT_NE(r.out.find("claim -6\n"), std::string::npos) << r.out;
}

TEST_F(VirtualUsbBusTest, AStalledEndpointAnswersPipeUntilTheHaltIsCleared) {
  qnsim::UsbfsDevice* d = Plug(Module());
  d->Stall(0x81);
  d->Stall(0x02);
  qntest::RunResult r = Probe({"40F5849A", "claim", "read:64:500", "write:0102", "clearhalt:0x81",
                               "clearhalt:0x02", "write:0102", "read:64:500"});
  EXPECT_NE(r.out.find("read -9 0 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("write -9 0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("clearhalt 0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("write 0 2\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("read 0 2 0102 "), std::string::npos) << r.out;
}

TEST_F(VirtualUsbBusTest, TheNextTransfersFailWithIOErrors) {
  qnsim::UsbfsDevice* d = Plug(Module());
  d->FailNextTransfers(2);
  qntest::RunResult r = Probe({"40F5849A", "claim", "write:01", "read:64:500", "write:02", "read:64:500"});
  EXPECT_NE(r.out.find("write -1 0\nread -1 0 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("write 0 1\nread 0 1 02 "), std::string::npos) << r.out;
}

TEST_F(VirtualUsbBusTest, UnplugEndsATransferInFlightAndReplugEnumeratesAnew) {
  qnsim::UsbfsDevice* d = Plug(Module());
  qntest::Background reader(qntest::BinaryPath("tests/sim/usb-probe"), {"40F5849A", "claim", "read:64:5000", "read:64:500"},
                            ClientEnv(bus));
  ASSERT_FALSE(reader.WaitForLine("claim 0").empty()) << reader.Stderr();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  bus.Unplug(d);
  std::string line = reader.WaitForLine("read -4");
  EXPECT_FALSE(line.empty()) << reader.Stdout() << reader.Stderr();
  EXPECT_NE(line.find("elapsed=0."), std::string::npos) << line;  // not the 5 s timeout
  qntest::RunResult gone = Lsusb({"-d", "24ff:"});
  EXPECT_EQ(gone.out.find("24ff"), std::string::npos) << gone.out;

  Plug(Module());
  qntest::RunResult back = Lsusb({"-d", "24ff:"});
  EXPECT_NE(back.out.find("Device 003: ID 24ff:0011"), std::string::npos) << back.out;
  qntest::RunResult r = Probe({"40F5849A", "claim", "write:0A0B", "read:64:500"});
  EXPECT_NE(r.out.find("read 0 2 0A0B "), std::string::npos) << r.out;
}

TEST_F(VirtualUsbBusTest, DescriptorVariantsShowAsConfigured) {
  qnsim::UsbIdentity high = Module("00000001");
  high.productId = 0x8001;
  high.hasOutEndpoint = false;
  Plug(high);
  qntest::RunResult r = Lsusb({"-v", "-d", "24ff:8001"});
  EXPECT_NE(r.out.find("bNumEndpoints           1"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("EP 2 OUT"), std::string::npos);
}

TEST_F(VirtualUsbBusTest, KernelNodeCarriesBytesAndIdleReadsReturnAfterASecond) {
  std::string error;
  qnsim::KernelNode* node = bus.AddKernelNode("40F5849A", &echo, &error);
  ASSERT_NE(node, nullptr) << error;
  echo.SetWayBack([node](const uint8_t* p, size_t n) { node->ToHost(p, n); });
  int fd = open((bus.rootDir() + "/dev/quillnode.40F5849A").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "\x06\x00", 2), 2);
  char got[2] = {1, 1};
  ASSERT_EQ(read(fd, &got[0], 1), 1);
  ASSERT_EQ(read(fd, &got[1], 1), 1);
  EXPECT_EQ(got[0], 6);
  EXPECT_EQ(got[1], 0);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(read(fd, got, 1), 0);
  double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GT(waited, 0.8);
  EXPECT_LT(waited, 5.0);
  close(fd);
}

TEST(VirtualUsbBusTeardown, WaitsForARequestTheTestbedIsStillHandling) {
  Latch latch;
  auto bus = std::make_unique<qnsim::VirtualUsbBus>();
  qnsim::UsbIdentity id;
  id.serial = "40F5849A";
  std::string error;
  qnsim::UsbfsDevice* d = bus->Plug(id, &latch, &error);
  ASSERT_NE(d, nullptr) << error;
  latch.SetDevice(d);
  qntest::Background writer(qntest::BinaryPath("tests/sim/usb-probe"), {"40F5849A", "claim", "write:AD00"},
                            ClientEnv(*bus));
  ASSERT_TRUE(latch.WaitEntered()) << writer.Stdout() << writer.Stderr();

  // The bus goes while the write is inside the module: it must not free the
  // device under it, and must be gone once the module lets the write go.
  std::future<void> gone = std::async(std::launch::async, [&bus] { bus.reset(); });
  EXPECT_EQ(gone.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  latch.Release();
  EXPECT_EQ(gone.wait_for(std::chrono::seconds(20)), std::future_status::ready);
}

}  // namespace

// The USB transport against the virtual USB bus: open by serial number, the
// failures of opening, the chunking of writes, the tolerance for I/O errors
// and the kernel-driver path.
#include "sdk/core/tUSB.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/vusb/VirtualUsbBus.h"

namespace {

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// The module side: records what the host sent and can answer. It is called
// on the testbed's thread, also while the test sets it up or looks at it.
class Function : public qnsim::UsbFunction {
 public:
  void FromHost(const uint8_t* data, size_t length) override {
    std::lock_guard<std::mutex> hold(lock_);
    received_.insert(received_.end(), data, data + length);
    if (echo_) echo_(data, length);
  }
  std::vector<uint8_t> Received() {
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
  }
  void SetEcho(std::function<void(const uint8_t*, size_t)> echo) {
    std::lock_guard<std::mutex> hold(lock_);
    echo_ = std::move(echo);
  }

 private:
  std::mutex lock_;
  std::vector<uint8_t> received_;
  std::function<void(const uint8_t*, size_t)> echo_;
};

class UsbTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getenv("UMOCKDEV_DIR"), nullptr) << "not running inside the umockdev preload";
  }
  void TearDown() override {
    if (stream) tStream_Destroy(&stream);
    if (record) qnusb_destroy(&record);
    // A fresh context per test, so each sees its own bus.
    Quillnode_libusb_exit();
  }
  qnsim::UsbfsDevice* Plug(uint32_t serial, bool echoBack = false, uint16_t product = 0x0011) {
    qnsim::UsbIdentity id;
    char text[16];
    snprintf(text, sizeof text, "%08X", serial);
    id.serial = text;
    id.productId = product;
    return Plug(id, echoBack);
  }
  qnsim::UsbfsDevice* Plug(const qnsim::UsbIdentity& id, bool echoBack = false) {
    std::string error;
    qnsim::UsbfsDevice* d = bus.Plug(id, &function, &error);
    EXPECT_NE(d, nullptr) << error;
    if (echoBack) function.SetEcho([d](const uint8_t* p, size_t n) { d->ToHost(p, n); });
    return d;
  }
  // A record opened on the libusb path, for looking at its state.
  tErr OpenRecord(const char* serial) {
    record = qnusb_create_usb(QNUSB_MODE_LIBUSB);
    EXPECT_NE(record, nullptr);
    return qnusb_open_quillnode_device(record, serial);
  }

  Function function;  // outlives the bus, which may call it until it is gone
  qnsim::VirtualUsbBus bus;
  tStream* stream = nullptr;
  qnusb_device* record = nullptr;
};

TEST_F(UsbTransport, OpensTheModuleBySerialNumberAndCarriesBytesBothWays) {
  Plug(0x11111111);
  qnsim::UsbfsDevice* d = Plug(0x40F5849A, true);
  ASSERT_EQ(tStream_CreateUSB(0x40F5849A, &stream), tErrNone);
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(d->claimed());
  const uint8_t hello[] = {0xAD, 0x00, 0x02, 0x03, 0x04};
  ASSERT_EQ(tStream_Write(stream, hello, sizeof hello), tErrNone);
  uint8_t back[5] = {0};
  ASSERT_EQ(tStream_Read(stream, back, sizeof back), tErrNone);
  EXPECT_EQ(memcmp(back, hello, sizeof hello), 0);
  EXPECT_EQ(function.Received(), std::vector<uint8_t>(hello, hello + sizeof hello));
  EXPECT_EQ(tStream_Destroy(&stream), tErrNone);
  EXPECT_FALSE(d->claimed());
}

TEST_F(UsbTransport, AbsentModulesAndBadArgumentsFailToOpen) {
  Plug(0x40F5849A);
  EXPECT_EQ(tStream_CreateUSB(0x12345678, &stream), tErrNotFound);
  EXPECT_EQ(stream, nullptr);
  tStream* untouched = reinterpret_cast<tStream*>(0x1);
  EXPECT_EQ(tStream_CreateUSB(0, &untouched), tErrParam);
  EXPECT_EQ(untouched, nullptr);
  EXPECT_EQ(tStream_CreateUSB(0x40F5849A, nullptr), tErrParam);
  // The serial text is compared exactly, case included.
  EXPECT_EQ(OpenRecord("40f5849a"), tErrNotFound);
}

TEST_F(UsbTransport, AProductIdWithBit15SetIsNeverOpened) {
  Plug(0x40F5849A, false, 0x8000);
  EXPECT_EQ(tStream_CreateUSB(0x40F5849A, &stream), tErrNotFound);
}

TEST_F(UsbTransport, AnInterfaceClaimedElsewhereIsBusy) {
  qnsim::UsbfsDevice* d = Plug(0x40F5849A);
  d->SetBusy(true);
  EXPECT_EQ(tStream_CreateUSB(0x40F5849A, &stream), tErrBusy);
  d->SetBusy(false);
  ASSERT_EQ(tStream_CreateUSB(0x40F5849A, &stream), tErrNone);
  tStream* second = nullptr;
  EXPECT_EQ(tStream_CreateUSB(0x40F5849A, &second), tErrBusy);
  EXPECT_EQ(second, nullptr);
}

TEST_F(UsbTransport, AnInterfaceWithOnlyAnInEndpointFailsWithConfiguration) {
  qnsim::UsbIdentity id;
  id.serial = "40F5849A";
  id.hasOutEndpoint = false;
  Plug(id);
  EXPECT_EQ(OpenRecord("40F5849A"), tErrConfiguration);
  EXPECT_EQ(record->state, QNUSB_STATE_CLOSED);
  EXPECT_EQ(record->handle, nullptr);
}

TEST_F(UsbTransport, WritesGoOutInChunksThatAreNever512Bytes) {
  qnsim::UsbfsDevice* d = Plug(0x40F5849A);
  ASSERT_EQ(tStream_CreateUSB(0x40F5849A, &stream), tErrNone);
  std::vector<uint8_t> data(600);
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(tStream_Write(stream, data.data(), static_cast<uint32_t>(data.size())), tErrNone);
  EXPECT_EQ(d->OutTransferSizes(), (std::vector<size_t>{511, 89}));
  EXPECT_EQ(function.Received(), data);
  std::vector<uint8_t> more(1200, 7);
  ASSERT_EQ(tStream_Write(stream, more.data(), static_cast<uint32_t>(more.size())), tErrNone);
  EXPECT_EQ(d->OutTransferSizes(), (std::vector<size_t>{511, 89, 511, 511, 178}));
}

TEST_F(UsbTransport, AWriteThatNeverGoesOutFailsAfterTenTransfers) {
  qnsim::UsbfsDevice* d = Plug(0x40F5849A);
  ASSERT_EQ(OpenRecord("40F5849A"), tErrNone);
  d->SetOutBlocked(true);
  const uint8_t data[4] = {1, 2, 3, 4};
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ(qnusb_write_to_device(record, data, sizeof data), tErrWrite);
  const double took = SecondsSince(t0);
  EXPECT_GT(took, 0.4);  // ten 50 ms timeouts
  EXPECT_LT(took, 5.0);
  EXPECT_EQ(record->errorCount, 0);
  EXPECT_EQ(record->state, QNUSB_STATE_OPEN);
  d->SetOutBlocked(false);
  EXPECT_EQ(qnusb_write_to_device(record, data, sizeof data), tErrNone);
}

TEST_F(UsbTransport, AStalledEndpointIsClearedAndReadsAsNotReady) {
  qnsim::UsbfsDevice* d = Plug(0x40F5849A, true);
  ASSERT_EQ(OpenRecord("40F5849A"), tErrNone);
  d->Stall(0x81);
  uint8_t b = 0;
  EXPECT_EQ(qnusb_get_from_device(record, &b), tErrNotReady);
  d->Stall(0x02);
  const uint8_t data[2] = {6, 0};
  EXPECT_EQ(qnusb_write_to_device(record, data, sizeof data), tErrNone);  // cleared and sent again
  EXPECT_EQ(qnusb_get_from_device(record, &b), tErrNone);
  EXPECT_EQ(b, 6);
  EXPECT_EQ(qnusb_get_from_device(record, &b), tErrNone);
  EXPECT_EQ(b, 0);
}

TEST_F(UsbTransport, FourIOErrorsAreForgivenAndTheFifthFailsTheDevice) {
  qnsim::UsbfsDevice* d = Plug(0x40F5849A, true);
  ASSERT_EQ(OpenRecord("40F5849A"), tErrNone);
  uint8_t b = 0;
  // Four in a row are forgiven, and a success starts the count again.
  d->FailNextTransfers(4);
  for (int i = 0; i < 4; i++) EXPECT_EQ(qnusb_get_from_device(record, &b), tErrNotReady) << i;
  const uint8_t data[1] = {9};
  EXPECT_EQ(qnusb_write_to_device(record, data, 1), tErrNone);
  EXPECT_EQ(qnusb_get_from_device(record, &b), tErrNone);
  EXPECT_EQ(record->errorCount, 0);

  // Three more, then the module is unplugged: the fourth error in a row is
  // still forgiven, the fifth is not.
  d->FailNextTransfers(3);
  for (int i = 0; i < 3; i++) EXPECT_EQ(qnusb_get_from_device(record, &b), tErrNotReady) << i;
  bus.Unplug(d);
  EXPECT_EQ(qnusb_get_from_device(record, &b), tErrNotReady);
  EXPECT_EQ(qnusb_get_from_device(record, &b), tErrIO);
  EXPECT_EQ(record->state, QNUSB_STATE_FAILED);
  EXPECT_EQ(qnusb_get_from_device(record, &b), tErrIO);
  EXPECT_EQ(qnusb_write_to_device(record, data, 1), tErrIO);
}

TEST_F(UsbTransport, AnUnpluggedModuleReadsNotReadyFourTimesThenIOError) {
  qnsim::UsbfsDevice* d = Plug(0x40F5849A);
  ASSERT_EQ(OpenRecord("40F5849A"), tErrNone);
  bus.Unplug(d);
  uint8_t b = 0;
  for (int i = 0; i < 4; i++) EXPECT_EQ(qnusb_get_from_device(record, &b), tErrNotReady) << i;
  EXPECT_EQ(qnusb_get_from_device(record, &b), tErrIO);
  EXPECT_EQ(record->state, QNUSB_STATE_FAILED);
}

TEST_F(UsbTransport, ASilentModuleReadsNotReadyAfterAboutASecond) {
  Plug(0x40F5849A);
  ASSERT_EQ(tStream_CreateUSB(0x40F5849A, &stream), tErrNone);
  uint8_t b = 0;
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ(tStream_Read(stream, &b, 1), tErrNotReady);
  const double took = SecondsSince(t0);
  EXPECT_GT(took, 0.9);
  EXPECT_LT(took, 3.0);
}

TEST_F(UsbTransport, TheKernelDriverNodeIsChosenWhenItExists) {
  qnsim::UsbfsDevice* d = Plug(0x40F5849A);
  std::string error;
  qnsim::KernelNode* node = bus.AddKernelNode("40F5849A", &function, &error);
  ASSERT_NE(node, nullptr) << error;
  function.SetEcho([node](const uint8_t* p, size_t n) { node->ToHost(p, n); });
  EXPECT_TRUE(qnusb_is_kernel_driver_installed(0x40F5849A));
  EXPECT_FALSE(qnusb_is_kernel_driver_installed(0x40F5849B));
  ASSERT_EQ(tStream_CreateUSB(0x40F5849A, &stream), tErrNone);
  EXPECT_FALSE(d->claimed());  // libusb never touched the device
  const uint8_t data[3] = {4, 1, 0x17};
  ASSERT_EQ(tStream_Write(stream, data, sizeof data), tErrNone);
  uint8_t back[3] = {0};
  ASSERT_EQ(tStream_Wait(stream, 2000), tErrNone);
  ASSERT_EQ(tStream_Read(stream, back, sizeof back), tErrNone);
  EXPECT_EQ(memcmp(back, data, 3), 0);
  // Nothing more: the wait sleeps for its time instead of returning at once.
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ(tStream_Wait(stream, 300), tErrTimeout);
  EXPECT_GT(SecondsSince(t0), 0.25);
  EXPECT_TRUE(d->OutTransferSizes().empty());
}

TEST_F(UsbTransport, ModeSpecificFunctionsRefuseTheOtherMode) {
  qnusb_device* kernel = qnusb_create_usb(QNUSB_MODE_KERNEL);
  ASSERT_NE(kernel, nullptr);
  uint8_t b;
  EXPECT_EQ(qnusb_open_quillnode_USBlib_device(kernel, "40F5849A"), tErrMode);
  EXPECT_EQ(qnusb_get_from_USBlib_device(kernel, &b), tErrMode);
  EXPECT_EQ(qnusb_get_from_kernel_device(kernel, &b), tErrMode);  // nothing open
  EXPECT_EQ(qnusb_open_quillnode_kernel_device(kernel, "40F5849A"), tErrIO);  // no such node
  EXPECT_EQ(qnusb_destroy(&kernel), tErrNone);
  EXPECT_EQ(kernel, nullptr);
  EXPECT_EQ(qnusb_destroy(&kernel), tErrParam);
}

}  // namespace

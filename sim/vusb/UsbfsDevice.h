// One virtual USB device node (/dev/bus/usb/BBB/DDD) of a umockdev testbed,
// answering the usbfs ioctls the way the kernel does: capabilities, claim and
// release of the interface, control transfers for the descriptors, bulk URBs
// submitted, reaped (with and without waiting) and discarded, clear halt.
// Timeouts are the client's: libusb discards a URB whose time is up, and the
// URB then comes back with status -ENOENT and whatever it had.
//
// The bytes of bulk OUT transfers go to the device's UsbFunction (the module);
// the module's answers go to the host through ToHost, which fills the bulk IN
// URBs waiting for them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/vusb/Doorbell.h"
#include "sim/vusb/UsbDescriptors.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;
typedef struct _GClosure GClosure;

namespace qnsim {

// What sits behind the device: the module's side of its two bulk pipes.
class UsbFunction {
 public:
  virtual ~UsbFunction() = default;
  // The bytes of one bulk OUT transfer, in order. Called on the testbed's
  // ioctl thread, never under the device's lock, so it may call ToHost.
  virtual void FromHost(const uint8_t* data, size_t length) = 0;
  // A client claimed the interface (true) or let it go (false): a new host
  // session starts or ends.
  virtual void SessionChanged(bool open) { (void)open; }
};

class UsbfsDevice {
 public:
  UsbfsDevice(const UsbIdentity& identity, UsbFunction* function, std::string devnode);
  ~UsbfsDevice();
  UsbfsDevice(const UsbfsDevice&) = delete;
  UsbfsDevice& operator=(const UsbfsDevice&) = delete;

  // Makes the node inside the testbed's root and takes over its ioctls.
  bool Attach(UMockdevTestbed* testbed, const std::string& rootDir, std::string* error);
  // Stops answering: waits for a request the testbed's thread is handling
  // and turns every later one away with ENODEV. Call it before what sits
  // behind the device goes away; the destructor calls it too.
  void Detach();

  // Queues bytes for the host; they leave with the next bulk IN URBs.
  void ToHost(const uint8_t* data, size_t length);

  // Fault switches.
  void SetBusy(bool busy);            // every claim fails with EBUSY
  void Stall(uint8_t endpoint);       // halted until the host clears it
  void FailNextTransfers(int count);  // the next bulk URBs end with -EPROTO
  // The OUT endpoint NAKs: OUT URBs stay in flight until the host gives up
  // on them (its timeout discards them).
  void SetOutBlocked(bool blocked);
  // The device is gone: URBs in flight end with -ESHUTDOWN, and every later
  // request fails with ENODEV, as after an unplug.
  void Disconnect();

  const std::string& devnode() const { return devnode_; }
  const UsbIdentity& identity() const { return identity_; }
  // Sizes of the bulk OUT transfers accepted so far, oldest first.
  std::vector<size_t> OutTransferSizes();
  bool claimed();

 private:
  struct Urb {
    UMockdevIoctlData* urb = nullptr;     // the client's struct usbdevfs_urb
    UMockdevIoctlData* buffer = nullptr;  // its data buffer
    UMockdevIoctlClient* client = nullptr;
    unsigned long address = 0;            // the URB's address in the client
  };
  struct Client {
    std::deque<Urb> done;  // reapable, oldest first
    bool waitingReap = false;
    UMockdevIoctlData* waitingArg = nullptr;
  };

  struct Gate;

  static int sHandleIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* gate);
  static void sClientVanished(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* gate);
  static void sDropGate(void* gate, GClosure* closure);
  void HandleIoctl(UMockdevIoctlClient* client);
  void ClientVanished(UMockdevIoctlClient* client);

  // All of these run with mutex_ held.
  long Dispatch(UMockdevIoctlClient* client, int* err, bool* deferred,
                std::vector<uint8_t>* outBytes);
  long Submit(UMockdevIoctlClient* client, int* err, std::vector<uint8_t>* outBytes);
  void Control(Urb& u);
  void Finish(Urb& u, int status, int actualLength);
  void FillInUrbs();
  bool Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  void UpdateDoorbell();
  void Release(UMockdevIoctlClient* client);
  static void Free(Urb& u);

  const UsbIdentity identity_;
  UsbFunction* const function_;
  const std::string devnode_;
  UMockdevIoctlBase* handler_ = nullptr;
  unsigned long handlerIds_[2] = {0, 0};
  // What the testbed's signal handlers hold instead of the device itself:
  // the testbed may call them until they are disconnected, and finish a
  // call after that.
  std::shared_ptr<Gate> gate_;
  Doorbell doorbell_;

  std::mutex mutex_;
  std::mutex fromHostMutex_;  // keeps OUT bytes in order on their way to the module
  std::map<UMockdevIoctlClient*, Client> clients_;
  std::deque<Urb> pendingIn_;
  std::deque<Urb> pendingOut_;  // only while the OUT endpoint is blocked
  std::deque<uint8_t> toHost_;
  UMockdevIoctlClient* owner_ = nullptr;  // client that claimed interface 0
  bool busy_ = false;
  bool gone_ = false;
  bool inHalted_ = false;
  bool outHalted_ = false;
  bool outBlocked_ = false;
  int failTransfers_ = 0;
  std::vector<size_t> outSizes_;
};

}  // namespace qnsim

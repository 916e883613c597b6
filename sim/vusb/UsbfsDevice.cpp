#include "sim/vusb/UsbfsDevice.h"

#include <errno.h>
#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>
#include <stddef.h>
#include <string.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <condition_variable>

#include "sim/vusb/HandOff.h"

namespace qnsim {

// Lets a handler call in only while the device is there, and the device go
// only when no call is inside. Shared by the device and the handlers'
// closures: the testbed's thread may still be about to call in when the
// device goes, and glib drops a closure only once no call runs through it.
struct UsbfsDevice::Gate {
  // Each signal handler holds one of these as its data.
  using Hold = std::shared_ptr<Gate>;
  static void* NewHold(const Hold& gate) {
    Hold* hold = new Hold(gate);
    HandOver(hold);  // the testbed's thread gets it
    return hold;
  }
  static Gate& Of(void* hold) {
    TakeOver(hold);
    return **static_cast<Hold*>(hold);
  }

  // The device for one call, or null once it is closed; Leave after a
  // non-null one.
  UsbfsDevice* Enter() {
    std::lock_guard<std::mutex> lock(mutex);
    if (device) ++inside;
    return device;
  }
  void Leave() {
    std::lock_guard<std::mutex> lock(mutex);
    if (--inside == 0) idle.notify_all();
  }
  // No call gets in any more; returns once none is inside.
  void Close() {
    std::unique_lock<std::mutex> lock(mutex);
    device = nullptr;
    idle.wait(lock, [this] { return inside == 0; });
  }

  std::mutex mutex;
  std::condition_variable idle;
  UsbfsDevice* device = nullptr;
  int inside = 0;
};

namespace {

constexpr unsigned sCapabilities = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
constexpr long sUsbSpeedHigh = 3;  // enum usb_device_speed

struct usbdevfs_urb* sUrbOf(UMockdevIoctlData* d) {
  return reinterpret_cast<struct usbdevfs_urb*>(d->data);
}

bool sIsIoctl(unsigned long request, unsigned nr) {
  return _IOC_TYPE(request) == 'U' && _IOC_NR(request) == nr;
}

}  // namespace

UsbfsDevice::UsbfsDevice(const UsbIdentity& identity, UsbFunction* function, std::string devnode)
    : identity_(identity), function_(function), devnode_(std::move(devnode)) {}

UsbfsDevice::~UsbfsDevice() {
  Detach();
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& u : pendingIn_) Free(u);
  for (auto& u : pendingOut_) Free(u);
  for (auto& [client, c] : clients_) {
    for (auto& u : c.done) Free(u);
  }
}

bool UsbfsDevice::Attach(UMockdevTestbed* testbed, const std::string& rootDir, std::string* error) {
  const std::string node = rootDir + devnode_;
  const std::string dir = node.substr(0, node.rfind('/'));
  g_mkdir_with_parents(dir.c_str(), 0755);
  if (!doorbell_.Create(node, error)) return false;
  gate_ = std::make_shared<Gate>();
  gate_->device = this;
  handler_ = umockdev_ioctl_base_new();
  handlerIds_[0] = g_signal_connect_data(handler_, "handle-ioctl", G_CALLBACK(sHandleIoctl), Gate::NewHold(gate_),
                                         sDropGate, GConnectFlags(0));
  handlerIds_[1] = g_signal_connect_data(handler_, "client-vanished", G_CALLBACK(sClientVanished),
                                         Gate::NewHold(gate_), sDropGate, GConnectFlags(0));
  GError* gerror = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed, devnode_.c_str(), handler_, &gerror)) {
    if (error) *error = std::string("attach ioctl handler: ") + (gerror ? gerror->message : "?");
    if (gerror) g_error_free(gerror);
    return false;
  }
  return true;
}

void UsbfsDevice::Detach() {
  if (gate_) gate_->Close();
  if (handler_) {
    for (unsigned long& id : handlerIds_) {
      if (id) g_signal_handler_disconnect(handler_, id);
      id = 0;
    }
    g_object_unref(handler_);
    handler_ = nullptr;
  }
}

void UsbfsDevice::sDropGate(void* hold, GClosure*) {
  TakeOver(hold);
  delete static_cast<Gate::Hold*>(hold);
}

void UsbfsDevice::ToHost(const uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (gone_) return;
  toHost_.insert(toHost_.end(), data, data + length);
  FillInUrbs();
  UpdateDoorbell();
}

void UsbfsDevice::SetBusy(bool busy) {
  std::lock_guard<std::mutex> lock(mutex_);
  busy_ = busy;
}

void UsbfsDevice::Stall(uint8_t endpoint) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (endpoint & 0x80) {
    inHalted_ = true;
    // A URB already waiting on the endpoint ends with the stall, as the
    // device's STALL handshake would end it.
    while (!pendingIn_.empty()) {
      Urb u = pendingIn_.front();
      pendingIn_.pop_front();
      Finish(u, -EPIPE, 0);
    }
  } else {
    outHalted_ = true;
  }
  UpdateDoorbell();
}

void UsbfsDevice::FailNextTransfers(int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  failTransfers_ = count;
  while (failTransfers_ > 0 && !pendingIn_.empty()) {
    Urb u = pendingIn_.front();
    pendingIn_.pop_front();
    --failTransfers_;
    Finish(u, -EPROTO, 0);
  }
  UpdateDoorbell();
}

void UsbfsDevice::SetOutBlocked(bool blocked) {
  std::lock_guard<std::mutex> lock(mutex_);
  outBlocked_ = blocked;
}

void UsbfsDevice::Disconnect() {
  std::lock_guard<std::mutex> lock(mutex_);
  gone_ = true;
  for (auto* pending : {&pendingIn_, &pendingOut_}) {
    while (!pending->empty()) {
      Urb u = pending->front();
      pending->pop_front();
      Finish(u, -ESHUTDOWN, 0);
    }
  }
  toHost_.clear();
  UpdateDoorbell();
}

std::vector<size_t> UsbfsDevice::OutTransferSizes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return outSizes_;
}

bool UsbfsDevice::claimed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return owner_ != nullptr;
}

int UsbfsDevice::sHandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* gate) {
  Gate& g = Gate::Of(gate);
  UsbfsDevice* d = g.Enter();
  if (!d) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return TRUE;
  }
  d->HandleIoctl(client);
  g.Leave();
  return TRUE;
}

void UsbfsDevice::sClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* gate) {
  Gate& g = Gate::Of(gate);
  UsbfsDevice* d = g.Enter();
  if (!d) return;
  d->ClientVanished(client);
  g.Leave();
}

void UsbfsDevice::HandleIoctl(UMockdevIoctlClient* client) {
  int err = 0;
  bool deferred = false;
  std::vector<uint8_t> outBytes;
  long result;
  int sessionChange = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    UMockdevIoctlClient* ownerBefore = owner_;
    result = Dispatch(client, &err, &deferred, &outBytes);
    if (!ownerBefore && owner_) sessionChange = 1;
    if (ownerBefore && !owner_) sessionChange = -1;
  }
  // The module hears about the transfer only after the URB is complete and
  // the lock is let go, in the order the transfers arrived.
  if (!outBytes.empty() || sessionChange) {
    std::lock_guard<std::mutex> order(fromHostMutex_);
    if (sessionChange > 0) function_->SessionChanged(true);
    if (!outBytes.empty()) function_->FromHost(outBytes.data(), outBytes.size());
    if (sessionChange < 0) function_->SessionChanged(false);
  }
  if (!deferred) umockdev_ioctl_client_complete(client, result, err);
}

void UsbfsDevice::ClientVanished(UMockdevIoctlClient* client) {
  bool ended;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended = owner_ == client;
    Release(client);
  }
  if (ended) {
    std::lock_guard<std::mutex> order(fromHostMutex_);
    function_->SessionChanged(false);
  }
}

void UsbfsDevice::Release(UMockdevIoctlClient* client) {
  if (owner_ == client) owner_ = nullptr;
  for (auto* pending : {&pendingIn_, &pendingOut_}) {
    for (auto it = pending->begin(); it != pending->end();) {
      if (it->client == client) {
        Free(*it);
        it = pending->erase(it);
      } else {
        ++it;
      }
    }
  }
  auto c = clients_.find(client);
  if (c != clients_.end()) {
    for (auto& u : c->second.done) Free(u);
    clients_.erase(c);
  }
  UpdateDoorbell();
}

void UsbfsDevice::Free(Urb& u) {
  if (u.buffer) g_object_unref(u.buffer);
  if (u.urb) g_object_unref(u.urb);
  u.buffer = u.urb = nullptr;
}

long UsbfsDevice::Dispatch(UMockdevIoctlClient* client, int* err, bool* deferred,
                           std::vector<uint8_t>* outBytes) {
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  clients_[client];  // every client that speaks gets its state

  if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
    if (Reap(client, arg)) return 0;
    if (gone_) {
      *err = ENODEV;
      return -1;
    }
    if (request == USBDEVFS_REAPURB) {
      Client& c = clients_[client];
      c.waitingReap = true;
      c.waitingArg = arg;
      g_object_ref(arg);
      *deferred = true;
      return 0;
    }
    *err = EAGAIN;
    return -1;
  }
  if (gone_) {
    *err = ENODEV;
    return -1;
  }

  if (request == USBDEVFS_GET_CAPABILITIES) {
    UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
    if (!caps) {
      *err = EFAULT;
      return -1;
    }
    *reinterpret_cast<uint32_t*>(caps->data) = sCapabilities;
    g_object_unref(caps);
    return 0;
  }
  if (request == USBDEVFS_CLAIMINTERFACE || request == USBDEVFS_RELEASEINTERFACE) {
    UMockdevIoctlData* n = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
    const unsigned number = n ? *reinterpret_cast<unsigned*>(n->data) : ~0u;
    if (n) g_object_unref(n);
    if (number != 0) {
      *err = request == USBDEVFS_CLAIMINTERFACE ? ENOENT : EINVAL;
      return -1;
    }
    if (request == USBDEVFS_CLAIMINTERFACE) {
      if (busy_ || (owner_ && owner_ != client)) {
        *err = EBUSY;
        return -1;
      }
      owner_ = client;
      return 0;
    }
    if (owner_ != client) {
      *err = EINVAL;
      return -1;
    }
    owner_ = nullptr;
    return 0;
  }
  if (request == USBDEVFS_SUBMITURB) return Submit(client, err, outBytes);
  if (request == USBDEVFS_DISCARDURB) {
    // The argument is the URB's own address.
    const unsigned long address =
        arg->data_len >= static_cast<int>(sizeof(void*)) ? *reinterpret_cast<unsigned long*>(arg->data)
                                                         : arg->client_addr;
    for (auto* pending : {&pendingIn_, &pendingOut_}) {
      for (auto it = pending->begin(); it != pending->end(); ++it) {
        if (it->client == client && it->address == address) {
          Urb u = *it;
          pending->erase(it);
          Finish(u, -ENOENT, 0);
          UpdateDoorbell();
          return 0;
        }
      }
    }
    *err = EINVAL;  // already done: the client reaps it as it is
    return -1;
  }
  if (request == USBDEVFS_CLEAR_HALT || request == USBDEVFS_RESETEP) {
    UMockdevIoctlData* n = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
    const unsigned endpoint = n ? *reinterpret_cast<unsigned*>(n->data) : 0;
    if (n) g_object_unref(n);
    if (endpoint == kUsbInEndpoint && identity_.hasInEndpoint) {
      inHalted_ = false;
    } else if (endpoint == kUsbOutEndpoint && identity_.hasOutEndpoint) {
      outHalted_ = false;
    } else {
      *err = ENOENT;
      return -1;
    }
    return 0;
  }
  if (request == USBDEVFS_SETINTERFACE || request == USBDEVFS_SETCONFIGURATION ||
      request == USBDEVFS_RESET) {
    return 0;
  }
  if (request == USBDEVFS_GETDRIVER || request == USBDEVFS_IOCTL) {
    *err = ENODATA;  // no kernel driver holds the interface
    return -1;
  }
  if (sIsIoctl(request, _IOC_NR(USBDEVFS_GET_SPEED))) return sUsbSpeedHigh;
  *err = ENOTTY;
  return -1;
}

long UsbfsDevice::Submit(UMockdevIoctlClient* client, int* err, std::vector<uint8_t>* outBytes) {
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  Urb u;
  u.client = client;
  u.urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(struct usbdevfs_urb), nullptr);
  if (!u.urb) {
    *err = EFAULT;
    return -1;
  }
  u.address = u.urb->client_addr;
  struct usbdevfs_urb* r = sUrbOf(u.urb);
  if (r->buffer_length < 0 || (r->buffer_length > 0 && !r->buffer)) {
    Free(u);
    *err = EINVAL;
    return -1;
  }
  if (r->buffer_length > 0) {
    u.buffer = umockdev_ioctl_data_resolve(u.urb, offsetof(struct usbdevfs_urb, buffer),
                                           r->buffer_length, nullptr);
    if (!u.buffer) {
      Free(u);
      *err = EFAULT;
      return -1;
    }
  }
  r->status = 0;
  r->actual_length = 0;

  if (r->type == USBDEVFS_URB_TYPE_CONTROL) {
    if (r->endpoint != 0 || r->buffer_length < 8) {
      Free(u);
      *err = EINVAL;
      return -1;
    }
    Control(u);
    UpdateDoorbell();
    return 0;
  }
  if (r->type != USBDEVFS_URB_TYPE_BULK) {
    Free(u);
    *err = EINVAL;
    return -1;
  }
  const bool in = (r->endpoint & 0x80) != 0;
  if ((in && (r->endpoint != kUsbInEndpoint || !identity_.hasInEndpoint)) ||
      (!in && (r->endpoint != kUsbOutEndpoint || !identity_.hasOutEndpoint))) {
    Free(u);
    *err = ENOENT;
    return -1;
  }
  // Bulk traffic needs the interface; like the kernel, take it on first use
  // unless somebody else holds it.
  if (owner_ != client) {
    if (busy_ || owner_) {
      Free(u);
      *err = EBUSY;
      return -1;
    }
    owner_ = client;
  }
  if (failTransfers_ > 0) {
    --failTransfers_;
    Finish(u, -EPROTO, 0);
  } else if (in) {
    if (inHalted_) {
      Finish(u, -EPIPE, 0);
    } else {
      pendingIn_.push_back(u);
      FillInUrbs();
    }
  } else if (outHalted_) {
    Finish(u, -EPIPE, 0);
  } else if (outBlocked_) {
    pendingOut_.push_back(u);
  } else {
    outSizes_.push_back(static_cast<size_t>(r->buffer_length));
    if (u.buffer) outBytes->assign(u.buffer->data, u.buffer->data + r->buffer_length);
    Finish(u, 0, r->buffer_length);
  }
  UpdateDoorbell();
  return 0;
}

void UsbfsDevice::Control(Urb& u) {
  const auto* setup = reinterpret_cast<const struct usb_ctrlrequest*>(u.buffer->data);
  const uint16_t value = setup->wValue, index = setup->wIndex, length = setup->wLength;
  uint8_t* data = u.buffer->data + 8;
  const size_t room = std::min<size_t>(length, static_cast<size_t>(sUrbOf(u.urb)->buffer_length - 8));
  std::vector<uint8_t> answer;
  bool stall = false;
  const uint8_t type = setup->bRequestType & (USB_TYPE_MASK | USB_RECIP_MASK);

  if (setup->bRequest == USB_REQ_GET_DESCRIPTOR && (setup->bRequestType & USB_DIR_IN)) {
    switch (value >> 8) {
      case USB_DT_DEVICE: answer = DeviceDescriptor(identity_); break;
      case USB_DT_CONFIG:
        if ((value & 0xFF) == 0) answer = ConfigurationDescriptor(identity_); else stall = true;
        break;
      case USB_DT_STRING:
        answer = StringDescriptor(identity_, value & 0xFF);
        stall = answer.empty();
        break;
      default: stall = true;  // no qualifier, BOS or other descriptors: a full-function USB 2.0 device
    }
  } else if (setup->bRequest == USB_REQ_GET_STATUS && (setup->bRequestType & USB_DIR_IN)) {
    answer = {0, 0};
  } else if (setup->bRequest == USB_REQ_GET_CONFIGURATION && (setup->bRequestType & USB_DIR_IN)) {
    answer = {1};
  } else if (setup->bRequest == USB_REQ_CLEAR_FEATURE && type == (USB_TYPE_STANDARD | USB_RECIP_ENDPOINT) &&
             value == USB_ENDPOINT_HALT) {
    if (index == kUsbInEndpoint) inHalted_ = false;
    else if (index == kUsbOutEndpoint) outHalted_ = false;
    else stall = true;
  } else if ((setup->bRequest == USB_REQ_SET_CONFIGURATION || setup->bRequest == USB_REQ_SET_INTERFACE) &&
             !(setup->bRequestType & USB_DIR_IN)) {
    // accepted, nothing to change
  } else {
    stall = true;
  }
  if (stall) {
    Finish(u, -EPIPE, 0);
    return;
  }
  const size_t n = std::min(room, answer.size());
  if (n) memcpy(data, answer.data(), n);
  Finish(u, 0, static_cast<int>(n));
}

void UsbfsDevice::Finish(Urb& u, int status, int actualLength) {
  struct usbdevfs_urb* r = sUrbOf(u.urb);
  r->status = status;
  r->actual_length = actualLength;
  Client& c = clients_[u.client];
  if (c.waitingReap) {
    c.done.push_back(u);
    c.waitingReap = false;
    UMockdevIoctlData* arg = c.waitingArg;
    c.waitingArg = nullptr;
    Reap(u.client, arg);
    g_object_unref(arg);
    umockdev_ioctl_client_complete(u.client, 0, 0);
    return;
  }
  c.done.push_back(u);
}

void UsbfsDevice::FillInUrbs() {
  while (!pendingIn_.empty() && !toHost_.empty()) {
    Urb u = pendingIn_.front();
    pendingIn_.pop_front();
    const size_t room = static_cast<size_t>(sUrbOf(u.urb)->buffer_length);
    const size_t n = std::min(room, toHost_.size());
    std::copy(toHost_.begin(), toHost_.begin() + static_cast<std::ptrdiff_t>(n), u.buffer->data);
    toHost_.erase(toHost_.begin(), toHost_.begin() + static_cast<std::ptrdiff_t>(n));
    Finish(u, 0, static_cast<int>(n));
  }
}

bool UsbfsDevice::Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  Client& c = clients_[client];
  if (c.done.empty()) return false;
  UMockdevIoctlData* out = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
  if (!out) return false;
  Urb u = c.done.front();
  c.done.pop_front();
  // The client's pointer now names its URB; completing the reap writes the
  // URB (status, length) and its buffer back into the client.
  umockdev_ioctl_data_set_ptr(out, 0, u.urb);
  g_object_unref(out);
  Free(u);
  UpdateDoorbell();
  return true;
}

void UsbfsDevice::UpdateDoorbell() {
  for (auto& [client, c] : clients_) {
    if (!c.done.empty()) {
      doorbell_.Ring();
      return;
    }
  }
  doorbell_.Quiet();
}

}  // namespace qnsim

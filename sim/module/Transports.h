// The ways a simulated module is reached. Each gives the module one Endpoint
// per host connection:
//   TcpTransport  a TCP server, as an Ethernet module is (one endpoint per
//                 accepted connection);
//   PtyTransport  a pseudo-terminal carrying COBS frames with a CRC-8, as a
//                 serial line is; the host opens the slave side; what a host
//                 that does not read leaves no room for is lost;
//   UsbLink       the glue to a virtual USB device or a kernel-driver node
//                 (see sim/vusb).
#pragma once

#include <stdint.h>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/module/Endpoint.h"
#include "sim/vusb/UsbfsDevice.h"

namespace qnsim {

class TcpTransport {
 public:
  TcpTransport(Module* attached, std::vector<Module*> behind);
  ~TcpTransport();
  // Listens on bindAddress:port (port 0 lets the system choose).
  bool Start(const std::string& bindAddress, uint16_t port, std::string* error);
  void Stop();
  uint16_t port() const { return port_; }
  void Tick();

 private:
  struct Connection {
    int fd = -1;
    std::unique_ptr<Endpoint> endpoint;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void AcceptLoop();
  void Serve(Connection* c);

  Module* const attached_;
  const std::vector<Module*> behind_;
  int listen_ = -1;
  int wake_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::atomic<bool> running_{false};
  std::thread acceptor_;
  std::mutex mutex_;
  std::list<Connection> connections_;
};

class PtyTransport {
 public:
  PtyTransport(Module* attached, std::vector<Module*> behind);
  ~PtyTransport();
  bool Start(std::string* error);
  void Stop();
  // The device path the host opens.
  const std::string& path() const { return path_; }
  void Tick() { if (endpoint_) endpoint_->Tick(); }
  // Frames that failed their length or CRC check, so far.
  int badFrames() const { return badFrames_; }

 private:
  void Run();
  void Frame(const std::vector<uint8_t>& encoded);
  void Send(const std::vector<uint8_t>& packetBytes);

  Module* const attached_;
  const std::vector<Module*> behind_;
  std::unique_ptr<Endpoint> endpoint_;
  int master_ = -1;
  int slave_ = -1;
  int wake_[2] = {-1, -1};
  std::string path_;
  std::atomic<bool> running_{false};
  std::atomic<int> badFrames_{0};
  std::thread thread_;
};

// A module behind a virtual USB device or kernel node: the device's bytes go
// to the endpoint, the endpoint's packets back to the device.
class UsbLink : public UsbFunction {
 public:
  using ToHost = std::function<void(const uint8_t*, size_t)>;
  UsbLink(Module* attached, std::vector<Module*> behind);
  void Connect(ToHost toHost) {
    std::lock_guard<std::mutex> lock(mutex_);
    toHost_ = std::move(toHost);
  }
  void FromHost(const uint8_t* data, size_t length) override { endpoint_.FromHost(data, length); }
  void SessionChanged(bool open) override {
    if (open) endpoint_.Reset();
  }
  void Tick() { endpoint_.Tick(); }

 private:
  std::mutex mutex_;  // guards toHost_, which a re-plug replaces
  ToHost toHost_;
  Endpoint endpoint_;
};

}  // namespace qnsim

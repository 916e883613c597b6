// Several simulated modules in one process, each reachable over the
// transports its description asks for. The module-sim program is a thin
// command line around it; tests use it in-process.
//
// A module description is a comma-separated list of keys:
//   serial=HEX        serial number (eight hex digits), required
//   model=N           model code (default 17); the USB product id's low byte
//   address=N         module address, even (default 2)
//   version=M.m.p     firmware version (default 2.15.3)
//   build=N           build number (default 1000)
//   name=TEXT         module name (default: the model name)
//   hwversion=N       hardware version (default 1)
//   heartbeat=N       send a heartbeat every N x 100 ms from the start
//   nopooled          protocol features without the pooled-packets bit
//   silent            answers nothing, magic packets included
//   router=HEX        sits behind that module on its I2C network (no
//                     transports of its own)
//   tcp[=PORT]        TCP server on the bind address (port 0 or none: any)
//   serial-line       pseudo-terminal with COBS framing
//   usb               virtual USB device
//   kernel            kernel-driver node /dev/quillnode.SERIAL
// USB faults:
//   product=HEX       USB product id (default: the model code)
//   inonly            the interface has only its bulk IN endpoint
//   busy              every claim of the interface fails
//   stall=in|out|both halt the endpoint until the host clears it
//   ioerrors=N        the first N bulk transfers fail with an I/O error
//   unplug=MS         unplug the device MS milliseconds after start
//   replug=MS         plug it in again (re-enumerated) MS milliseconds later
#pragma once

#include <stdint.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/module/Module.h"
#include "sim/module/Transports.h"
#include "sim/vusb/VirtualUsbBus.h"

namespace qnsim {

struct ModuleSpec {
  ModuleConfig config;
  uint32_t router = 0;  // serial number of the router this module sits behind
  bool tcp = false;
  uint16_t tcpPort = 0;
  bool serialLine = false;
  bool usb = false;
  bool kernel = false;
  int productId = -1;
  bool inOnly = false;
  bool busy = false;
  bool stallIn = false, stallOut = false;
  int ioErrors = 0;
  int unplugMs = -1;
  int replugMs = -1;
};

// Parses one description; false with the reason in *error.
bool ParseModuleSpec(const std::string& text, ModuleSpec* spec, std::string* error);

class Simulator {
 public:
  explicit Simulator(std::string bindAddress = "127.0.0.1");
  ~Simulator();

  // Builds every module and its transports. `report` gets one line per
  // transport ("40F5849A tcp 127.0.0.1 40123", "40F5849A serial-line
  // /dev/pts/3", "40F5849A usb 001/002", "40F5849A kernel
  // /dev/quillnode.40F5849A"). False with the reason in *error.
  bool Start(const std::vector<ModuleSpec>& specs, const std::function<void(const std::string&)>& report,
             std::string* error);
  void Stop();

  Module* FindModule(uint32_t serial);
  uint16_t TcpPort(uint32_t serial);
  std::string SerialLinePath(uint32_t serial);
  UsbfsDevice* UsbDevice(uint32_t serial);
  // The USB bus, made when a module asks for usb or kernel; null otherwise.
  VirtualUsbBus* bus() { return bus_.get(); }
  // Takes the module's USB device off the bus, or puts it back on
  // (re-enumerated under a new device number).
  bool Unplug(uint32_t serial);
  bool Replug(uint32_t serial);

 private:
  struct Entry {
    ModuleSpec spec;
    std::unique_ptr<Module> module;
    std::vector<Module*> behind;
    std::unique_ptr<TcpTransport> tcp;
    std::unique_ptr<PtyTransport> pty;
    std::unique_ptr<UsbLink> usbLink;
    std::unique_ptr<UsbLink> kernelLink;
    UsbfsDevice* device = nullptr;
  };
  Entry* Find(uint32_t serial);
  bool PlugUsb(Entry& e, bool withFaults, std::string* error);
  void Run();

  const std::string bind_;
  std::unique_ptr<VirtualUsbBus> bus_;
  std::vector<std::unique_ptr<Entry>> entries_;
  std::mutex mutex_;
  std::atomic<bool> running_{false};
  std::thread ticker_;
};

}  // namespace qnsim

// A simulated module: identity, firmware version and build, name, system
// options, an I2C bus, and the answers to everything the host asks of a
// running module (UEI gets, sets and calls of the system entity, byte-array
// trains in both directions, module-information queries, the debug echo,
// I2C transfers). It knows nothing of its transport: a link endpoint hands
// it whole packets addressed to it and sends its answers back.
//
// Later conversations (the loader, store slots, factory data, stream
// samples) plug in as command handlers (SetHandler) and as UEI
// capabilities (AddCapability) without changing this class.
#pragma once

#include <stdint.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sim/module/Frame.h"
#include "sim/module/I2CBus.h"
#include "sim/module/SystemEntity.h"

namespace qnsim {

struct ModuleConfig {
  uint32_t serial = 0x40F5849A;
  uint8_t model = 17;           // model code; also the low byte of the USB product id
  uint8_t address = 2;          // even, non-zero
  uint32_t version = 0;         // packed firmware version; 0: 2.15.3
  uint32_t build = 1000;
  uint32_t hardwareVersion = 1;
  std::string name;             // empty: the model name
  uint8_t routerAddress = 0;    // for a module behind a router: the router's address
  bool pooledPackets = true;    // protocol features bit 31
  bool silent = false;          // answers nothing at all, magic packets included
  uint8_t heartbeatInterval = 0;  // 100 ms steps between heartbeats; 0 = none
};

class Module {
 public:
  using Handler = std::function<void(Module& module, const Frame& request, Frames* replies)>;

  explicit Module(const ModuleConfig& config);

  // Answers one packet addressed to this module (replies appended).
  void Handle(const Frame& request, Frames* replies);

  uint32_t serial() const { return config_.serial; }
  uint8_t model() const { return config_.model; }
  uint8_t address() const { return config_.address; }
  bool silent() const { return config_.silent; }
  std::string serialText() const;
  // Heartbeat interval in 100 ms steps, as last set by the host (option 3).
  uint8_t HeartbeatInterval();
  // True once the host asked to be routed to (option 20).
  bool RoutedToHost();

  I2CBus& bus() { return bus_; }
  SystemEntity& system() { return system_; }

  // Raw or UEI command handlers beyond the built-in ones; a later handler
  // for the same command replaces the earlier one.
  void SetHandler(uint8_t command, Handler handler);
  // Declares a UEI the module implements, for the has-UEI query
  // (directionFlags: 0x40 get, 0x80 set, 0 call).
  void AddCapability(uint8_t command, uint8_t option, uint8_t index, uint8_t directionFlags);

 private:
  void HandleModuleInfo(const Frame& request, Frames* replies);
  void HandleDebug(const Frame& request, Frames* replies);
  void HandleI2C(const Frame& request, Frames* replies);
  uint8_t HasUEI(uint8_t command, uint8_t option, uint8_t index, uint8_t flags);

  ModuleConfig config_;
  std::mutex mutex_;
  SystemEntity system_;
  I2CBus bus_;
  std::map<uint8_t, Handler> handlers_;
  std::set<uint32_t> capabilities_;
};

}  // namespace qnsim

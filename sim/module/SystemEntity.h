// The system entity (command 3, index 0) of a simulated module with the
// options of the system table: identity and version read-only, routing,
// heartbeat, LED and power settings writable, the name and the power
// behaviour configuration as byte arrays, the unique identifier under
// subindexes 0 to 3.
#pragma once

#include <stdint.h>

#include <chrono>
#include <string>

#include "sdk/api/tSystemOptions.h"
#include "sim/module/UeiEntity.h"

namespace qnsim {

struct ModuleConfig;

class SystemEntity : public UeiEntity {
 public:
  explicit SystemEntity(const ModuleConfig& config);

  uint8_t heartbeatInterval() { return static_cast<uint8_t>(Find(systemHBInterval)->value); }
  bool routedToHost() { return Find(systemRouteToMe)->value != 0; }

 private:
  std::chrono::steady_clock::time_point started_;
};

}  // namespace qnsim

// One module found by discovery, as the device list prints it.
#pragma once

#include <stdint.h>

#include <string>

#include "sdk/core/tErr.h"
#include "sdk/core/tLinkSpec.h"

struct DeviceInfo {
  linkSpec spec{};            // how the module was found
  uint32_t networkAddress = 0;  // address on the module network; 0 for plain discovery
  uint32_t build = 0;           // 0 when it could not be read
  uint8_t major = 0;
  uint8_t minor = 0;
  uint32_t patch = 0;
  std::string modelName;
  std::string deviceName;       // empty when not read
  tErr error = tErrNone;        // first failure while reading the module
};

// Console formats of the command results, all at the Info level.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "app/DeviceInfo.h"
#include "app/UpdaterDisplayInterface.h"
#include "recovery/Fingerprint.h"
#include "sdk/core/tLinkSpec.h"

void _display_device_list(UpdaterDisplayInterface& display, const std::vector<DeviceInfo>& devices,
                          linkType type);
void _display_builds(UpdaterDisplayInterface& display,
                     const std::map<std::string, std::string>& builds, uint32_t serialNumber);
void _display_jwt(UpdaterDisplayInterface& display, const std::string& token);
void _display_fingerprint(UpdaterDisplayInterface& display, const Fingerprint& fingerprint);

#include "app/CommandOutput.h"

#include <stdio.h>

#include "sdk/core/tDefs.h"
#include "server/UpdateServerRequest.h"

namespace {
const UpdaterDisplayInterface::Level sInfo = UpdaterDisplayInterface::Info;
}

void _display_device_list(UpdaterDisplayInterface& display, const std::vector<DeviceInfo>& devices,
                          linkType type) {
  const char* typeName = type == USB ? "USB" : type == TCPIP ? "TCPIP" : "Unknown";
  display.message(sInfo, "Discovered Devices: (%s)", typeName);
  if (devices.empty()) {
    display.message(sInfo, "    No devices found.");
    return;
  }
  if (type == USB)
    display.message(sInfo,
                    "    Device    Module   Router  Model          Firmware Version (Build)    "
                    "Device Name");
  else
    display.message(sInfo,
                    "    Device    Module   Router  Model          Firmware Version (Build)   "
                    "[IP address]       Device Name");

  for (const DeviceInfo& d : devices) {
    const char* model = tDefs_GetModelName(d.spec.model);
    if (d.spec.type == TCPIP) {
      const unsigned char* ip = reinterpret_cast<const unsigned char*>(&d.spec.u.ip.ipAddress);
      char ipText[20];
      snprintf(ipText, sizeof ipText, "[%d.%d.%d.%d]", ip[0], ip[1], ip[2], ip[3]);
      display.message(sInfo, "    %08X  %02X       %02X      %-12s %3d.%d.%d (%10u)        %-17s  %s",
                      d.spec.serialNumber, d.spec.moduleAddress, d.spec.routerAddress, model,
                      d.major, d.minor, d.patch, d.build, ipText, d.deviceName.c_str());
    } else if (d.error != tErrNone) {
      display.message(sInfo,
                      "    %08X  [Error (%d): Device in use. Close all other Telvicor associated "
                      "applications.]",
                      d.spec.serialNumber, int(d.error));
    } else {
      display.message(sInfo, "    %08X  %02X       %02X      %-12s %3d.%d.%d (%10u)         %s",
                      d.spec.serialNumber, d.spec.moduleAddress, d.spec.routerAddress, model,
                      d.major, d.minor, d.patch, d.build, d.deviceName.c_str());
    }
  }
}

void _display_builds(UpdaterDisplayInterface& display,
                     const std::map<std::string, std::string>& builds, uint32_t serialNumber) {
  if (builds.empty()) {
    display.message(sInfo, "No builds found for device [%08X]", serialNumber);
    return;
  }
  display.message(sInfo, "Build List for device [%08X]:\n", serialNumber);
  display.message(sInfo, "%-15.15s\t%-15.15s", "Build", "Version");
  for (const auto& entry : UpdateServerRequest::SortBuildsByVersion(builds))
    display.message(sInfo, "%-15.15s\t%-15.15s", entry.first.c_str(), entry.second.c_str());
}

void _display_jwt(UpdaterDisplayInterface& display, const std::string& token) {
  display.message(sInfo, "%s", token.c_str());
}

void _display_fingerprint(UpdaterDisplayInterface& display, const Fingerprint& fp) {
  display.message(sInfo, "[ %08X %08X %08X %08X ]", fp.words[0], fp.words[1], fp.words[2],
                  fp.words[3]);
}

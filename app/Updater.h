// The command object: one per run, carrying the server, the store and the
// display to every command.
#pragma once

#include <stdint.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/DeviceInfo.h"
#include "app/UpdaterDisplayInterface.h"
#include "recovery/Fingerprint.h"
#include "sdk/core/tLinkSpec.h"

// Thrown by a command that this build does not provide yet, so that the
// dispatch reports it and fails instead of printing an empty success.
class CommandUnavailable : public std::runtime_error {
 public:
  explicit CommandUnavailable(const std::string& command)
      : std::runtime_error(command + " is not available in this build") {}
};

class Updater {
 public:
  Updater(const char* serverURL, const char* storeDirectory, UpdaterDisplayInterface& display);
  ~Updater();

  void Set_UEIBytes_Load(bool useUEIBytes) { ueiBytesLoad = useUEIBytes; }

  // Firmware update (-U).
  bool Update_Firmware(uint32_t serialNumber, uint32_t build, std::string birdFile,
                       uint8_t moduleAddress, uint32_t routerSerial, bool overrideModelCheck);

  // Discovery (-D).
  std::vector<DeviceInfo> Discover_Devices(linkType type);
  std::vector<DeviceInfo> Discover_QNNetwork_Devices(uint32_t routerSerial, linkType type);

  // Download, build lists, token (-G, -B, -L, -J). Download_Firmware returns
  // the build number stored, 0 on failure.
  uint32_t Download_Firmware(uint32_t serialNumber, std::string build, bool overrideValidation,
                             bool noCal);
  uint32_t Download_Firmware(Fingerprint fingerprint, std::string build, bool overrideValidation);
  std::map<std::string, std::string> Get_BuildList(uint32_t serialNumber);
  std::map<std::string, std::string> Get_BuildListLocal(uint32_t serialNumber);
  std::string Get_JWT(uint32_t serialNumber);

  // Recovery and fingerprint (-U -t RECOVER, -N).
  bool Get_Fingerprint(Fingerprint& fingerprint, std::string port, uint32_t serialNumber,
                       std::string birdFile, uint32_t baudRate, bool resetAfter);
  bool Recover_Firmware(std::string port, uint32_t build, uint32_t baudRate,
                        uint32_t serialNumber, std::string birdFile, bool overrideModelCheck);

 private:
  // Whether the server's build list for the device holds `build`.
  bool _valid_build(uint32_t serialNumber, uint32_t build, const char* url);

  std::string updateServerURL;
  std::string storeDirectory;
  UpdaterDisplayInterface& display;
  uint8_t recoveryChip = 0;  // 1 = i.MX RT1050, 2 = LPC17xx; set by Get_Fingerprint
  bool ueiBytesLoad = false;
};

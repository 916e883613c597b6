// Entry point: parse the options, then run the requested commands in their
// fixed order: -N, then -G, then the first of -D, -U, -B, -L and -J.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "app/AppVersion.h"
#include "app/CLI_Display.h"
#include "app/CommandOutput.h"
#include "app/Log.h"
#include "app/Parameters.h"
#include "app/Updater.h"
#include "app/Usage.h"
#include "store/tDirectory.h"

namespace {

const UpdaterDisplayInterface::Level sInfo = UpdaterDisplayInterface::Info;
const UpdaterDisplayInterface::Level sError = UpdaterDisplayInterface::Error;

bool sPrepareStoreDirectory(CLI_Display& display, Parameters& params) {
  if (params.storeDirectory.empty()) {
    char home[2048];
    tDirectory_GetHomeDirectory(home, sizeof home);
    params.storeDirectory = BuildPath(home, ".telvicor", static_cast<const char*>(nullptr));
  }
  params.storeDirectory =
      BuildPath(params.storeDirectory.c_str(), "updater", static_cast<const char*>(nullptr));
  if (tDirectory_Ensure(params.storeDirectory.c_str(), 0755) != tErrNone) {
    display.message(sError, "Could not find updater directory at %s",
                    params.storeDirectory.c_str());
    return false;
  }
  return true;
}

// -N; returns the pending status, or -1 when the run must end with 1 now.
int sFingerprint(CLI_Display& display, Updater& updater, const Parameters& params) {
  if (params.serialPort.empty()) {
    display.message(sError, "Must specify the serial port used for connecting");
    return -1;
  }
  Fingerprint fingerprint;
  if (updater.Get_Fingerprint(fingerprint, params.serialPort, 0xADECFBDC, params.birdFile,
                              params.baudRate, true)) {
    _display_fingerprint(display, fingerprint);
    return 0;
  }
  display.message(sError, "Got no response from chip");
  return 1;
}

// -G; returns the pending status, or -1 when the run must end with 1 now.
int sDownload(CLI_Display& display, Updater& updater, Parameters& params) {
  if (params.serialNumber == 0) {
    display.message(sError, "-G must specify a specific device via -d");
    display.message(sError, "--help for usage information");
    return -1;
  }
  display.message(sInfo, "Retrieving firmware for device with serial number %08X",
                  params.serialNumber);
  if (params.build.empty()) {
    display.message(sInfo, "No build specified");
    display.message(sInfo, "Using Latest build");
  } else {
    display.message(sInfo, "Retrieving firmware build %s", params.build.c_str());
  }
  uint32_t stored =
      updater.Download_Firmware(params.serialNumber, params.build, params.overrideModelCheck, false);
  if (stored == 0) return 1;
  params.build = std::to_string(stored);  // a following -U writes exactly this build
  return 0;
}

int sDiscover(CLI_Display& display, Updater& updater, const Parameters& params) {
  linkType type = (params.transportGiven && params.transport != TRANSPORT_RECOVER)
                      ? linkType(params.transport)
                      : INVALID;
  if (params.routerSerial) {
    display.message(sInfo, "Searching for Quillnode Network devices connected to %08X",
                    params.routerSerial);
    _display_device_list(display, updater.Discover_QNNetwork_Devices(params.routerSerial, type),
                         type);
  } else {
    display.message(sInfo, "Searching for Quillnode devices");
    // Type 0 searches USB and then TCPIP, and the list is shown as USB.
    _display_device_list(display, updater.Discover_Devices(type), type == INVALID ? USB : type);
  }
  return 0;
}

int sUpdate(CLI_Display& display, Updater& updater, const Parameters& params) {
  uint32_t build = params.build.empty() ? 0 : uint32_t(strtoul(params.build.c_str(), nullptr, 10));
  updater.Set_UEIBytes_Load(params.useUEIBytes);
  bool ok;
  if (params.transport == TRANSPORT_RECOVER) {
    ok = updater.Recover_Firmware(params.serialPort, build, params.baudRate, params.serialNumber,
                                  params.birdFile, params.overrideModelCheck);
  } else if (params.serialNumber == 0) {
    display.message(sError, "Must specify the specific device to be updated");
    return 1;
  } else {
    ok = updater.Update_Firmware(params.serialNumber, build, params.birdFile, params.moduleAddress,
                                 params.routerSerial, params.overrideModelCheck);
  }
  return ok ? 0 : 1;
}

// -B, -L and -J share their check for a serial number.
bool sNeedSerial(CLI_Display& display, const Parameters& params, const char* command) {
  if (params.serialNumber != 0) return true;
  display.message(sError, "Error must supply a serial number for the %s command", command);
  _display_usage(false, false);
  return false;
}

int sRunCommands(CLI_Display& display, Updater& updater, Parameters& params) {
  int pending = 0;
  if (params.commands.IsSet(CMD_FINGERPRINT)) {
    int status = sFingerprint(display, updater, params);
    if (status < 0) return 1;
    pending = status;
  }
  if (params.commands.IsSet(CMD_GET_BUILD)) {
    int status = sDownload(display, updater, params);
    if (status < 0) return 1;
    pending = status;
  }
  if (params.commands.IsSet(CMD_DISCOVER)) return sDiscover(display, updater, params);
  if (params.commands.IsSet(CMD_UPDATE)) return sUpdate(display, updater, params);
  if (params.commands.IsSet(CMD_LIST_BUILDS)) {
    if (!sNeedSerial(display, params, "List Builds")) return 1;
    _display_builds(display, updater.Get_BuildList(params.serialNumber), params.serialNumber);
    return 0;
  }
  if (params.commands.IsSet(CMD_LIST_LOCAL)) {
    if (!sNeedSerial(display, params, "List Local Builds")) return 1;
    _display_builds(display, updater.Get_BuildListLocal(params.serialNumber), params.serialNumber);
    return 0;
  }
  if (params.commands.IsSet(CMD_GET_JWT)) {
    if (!sNeedSerial(display, params, "Get JWT")) return 1;
    _display_jwt(display, updater.Get_JWT(params.serialNumber));
    return 0;
  }
  return pending;
}

}  // namespace

int main(int argc, char** argv) {
  Parameters params;
  CLI_Display display;
  Log::SetOutput(stderr);

  if (_get_params(display, argc, argv, &params) != 0) {
    _display_app_version(display);
    _display_app_banner(display);
    _display_usage(false, false);
    return 1;
  }
  _display_app_version(display);

  if (params.commands.IsSet(CMD_HELP) || !params.commands.IsSet(CMD_ANY_MASK)) {
    _display_app_banner(display);
    _display_usage(params.logMaskGiven, params.helpRequested);
    return 0;
  }

  if (!sPrepareStoreDirectory(display, params)) return 1;

  Updater updater(params.updateServerURL.c_str(), params.storeDirectory.c_str(), display);
  int status;
  try {
    status = sRunCommands(display, updater, params);
  } catch (const CommandUnavailable& e) {
    display.message(sError, "%s", e.what());
    status = 1;
  }
  _release_params(&params);
  return status;
}

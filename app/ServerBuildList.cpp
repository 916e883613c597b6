// -B: the builds the update server offers for a device.
#include "app/Updater.h"
#include "server/UpdateServerRequest.h"

std::map<std::string, std::string> Updater::Get_BuildList(uint32_t serialNumber) {
  std::map<std::string, std::string> builds;
  const char* url = updateServerURL.c_str();
  if (!UpdateServerRequest::ping(url)) {
    display.message(UpdaterDisplayInterface::Error, "Server request failed for %s", url);
    return builds;
  }
  if (!UpdateServerRequest::GetBuildList(serialNumber, builds, url))
    display.message(UpdaterDisplayInterface::Error, "Failed to retrieve builds for %08X",
                    serialNumber);
  return builds;
}

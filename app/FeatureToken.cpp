// -J: the device's signed feature token.
#include "app/Updater.h"
#include "server/UpdateServerRequest.h"

std::string Updater::Get_JWT(uint32_t serialNumber) {
  std::string token;
  const char* url = updateServerURL.c_str();
  if (!UpdateServerRequest::ping(url))
    display.message(UpdaterDisplayInterface::Error, "Server request failed for %s", url);
  else if (!UpdateServerRequest::GetDeviceJWT(serialNumber, token, url))
    display.message(UpdaterDisplayInterface::Error, "Failed to retrieve jwt for %08X",
                    serialNumber);
  return token;
}

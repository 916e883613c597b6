// Commands whose implementation has not landed yet. Each one fails loudly
// through CommandUnavailable; a later unit replaces its definition here.
#include "app/Updater.h"

bool Updater::Update_Firmware(uint32_t, uint32_t, std::string, uint8_t, uint32_t, bool) {
  throw CommandUnavailable("Firmware update (-U)");
}

std::vector<DeviceInfo> Updater::Discover_Devices(linkType) {
  throw CommandUnavailable("Device discovery (-D)");
}

std::vector<DeviceInfo> Updater::Discover_QNNetwork_Devices(uint32_t, linkType) {
  throw CommandUnavailable("Module network discovery (-D -r)");
}

bool Updater::Get_Fingerprint(Fingerprint&, std::string, uint32_t, std::string, uint32_t, bool) {
  throw CommandUnavailable("Fingerprint read (-N)");
}

bool Updater::Recover_Firmware(std::string, uint32_t, uint32_t, uint32_t, std::string, bool) {
  throw CommandUnavailable("Recovery (-U -t RECOVER)");
}

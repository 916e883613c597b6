#include "sim/module/SystemEntity.h"

#include "sdk/api/tSystemOptions.h"
#include "sdk/api/tUEI.h"
#include "sdk/core/tDefs.h"
#include "sdk/core/tVersion.h"
#include "sim/module/Module.h"

namespace qnsim {

namespace {

uint32_t sSigned(int32_t v) { return static_cast<uint32_t>(v); }

}  // namespace

SystemEntity::SystemEntity(const ModuleConfig& c)
    : UeiEntity(cmdSYSTEM, 1), started_(std::chrono::steady_clock::now()) {
  using K = Kind;
  auto fixed = [this](uint8_t option, K kind, uint32_t value) { Define(option, kind, true, false).value = value; };
  auto setting = [this](uint8_t option, K kind, uint32_t value) { Define(option, kind, true, true).value = value; };

  fixed(systemModule, K::Byte, c.address);
  setting(systemRouter, K::Byte, c.routerAddress);
  setting(systemHBInterval, K::Byte, c.heartbeatInterval);
  setting(systemLED, K::Byte, 1);
  setting(systemBootSlot, K::Byte, 0);
  fixed(systemVersion, K::Int, c.version != 0 ? c.version : tVersion_Pack(2, 15, 3));
  fixed(systemModel, K::Byte, c.model);
  fixed(systemSerialNumber, K::Int, c.serial);
  Define(systemSave, K::Call, false, true);
  Define(systemReset, K::Call, false, true);
  fixed(systemInputVoltage, K::Int, 5000);  // millivolts
  fixed(systemModuleHardwareOffset, K::Byte, 0);
  fixed(systemModuleBaseAddress, K::Byte, c.address);
  setting(systemModuleSoftwareOffset, K::Byte, 0);
  fixed(systemRouterAddressSetting, K::Byte, c.routerAddress);
  Define(systemRouteToMe, K::Byte, false, true);
  fixed(systemInputCurrent, K::Int, 120);  // milliamperes
  Define(systemUptime, K::Int, true, false).read = [this] {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_).count());
  };
  fixed(systemMaximumTemperature, K::Int, sSigned(41000));  // millidegrees
  Define(systemLogEvents, K::Call, false, true);
  fixed(systemUnregulatedVoltage, K::Int, sSigned(12000));
  fixed(systemUnregulatedCurrent, K::Int, sSigned(-15));
  fixed(systemTemperature, K::Int, sSigned(36500));
  fixed(systemMinimumTemperature, K::Int, sSigned(-2500));
  fixed(systemInputPowerSource, K::Byte, 1);
  setting(systemInputPowerBehavior, K::Byte, 0);
  Option& behaviour = Define(systemInputPowerBehaviorConfig, K::Bytes, true, true);
  behaviour.bytes = {0, 0, 0, 1, 0, 0, 0, 2};
  behaviour.bytesUnit = 4;
  behaviour.maxBytes = 64;
  Option& name = Define(systemName, K::Bytes, true, true);
  const std::string text = c.name.empty() ? tDefs_GetModelName(c.model) : c.name;
  name.bytes.assign(text.begin(), text.end());
  name.maxBytes = 32;
  fixed(systemPowerLimit, K::Int, 15000);
  setting(systemPowerLimitMax, K::Int, 60000);
  fixed(systemPowerLimitState, K::Int, 0);
  Define(systemResetDeviceToFactoryDefaults, K::Call, false, true);
  setting(systemLinkInterface, K::Byte, 0);
  Option& id = Define(systemUniqueIdentifier, K::Int, true, false);
  id.subindexes = 4;
  id.subValues = {{0, 0x51554C4C}, {1, c.serial}, {2, c.model}, {3, 0x4E4F4445}};
  fixed(systemHardwareVersion, K::Int, c.hardwareVersion);
  fixed(systemErrors, K::Int, 0);
  setting(systemLEDMaxBrightness, K::Byte, 255);
  fixed(systemBuild, K::Int, c.build);
  fixed(systemProtocolFeatures, K::Int, c.pooledPackets ? 0x80000000u : 0);
}

}  // namespace qnsim

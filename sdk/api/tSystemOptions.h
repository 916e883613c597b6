// Option codes of the system entity (command 3): identity, version, serial
// number, routing, power and name. Widths in brackets; "call" options take
// no value.
#pragma once

enum {
  systemModule = 1,                   // [8] the module's own address
  systemRouter = 2,                   // [8] router address, settable
  systemHBInterval = 3,               // [8] heartbeat interval, settable
  systemLED = 4,                      // [8] settable
  systemBootSlot = 6,                 // [8] settable
  systemVersion = 7,                  // [32] packed firmware version
  systemModel = 8,                    // [8] model code
  systemSerialNumber = 9,             // [32]
  systemSave = 10,                    // call
  systemReset = 11,                   // call
  systemInputVoltage = 12,            // [32]
  systemModuleHardwareOffset = 13,    // [8]
  systemModuleBaseAddress = 14,       // [8]
  systemModuleSoftwareOffset = 15,    // [8] settable
  systemRouterAddressSetting = 16,    // [8]
  systemRouteToMe = 20,               // [8] set only
  systemInputCurrent = 21,            // [32]
  systemUptime = 22,                  // [32]
  systemMaximumTemperature = 23,      // [32] signed
  systemLogEvents = 24,               // call
  systemUnregulatedVoltage = 25,      // [32] signed
  systemUnregulatedCurrent = 26,      // [32] signed
  systemTemperature = 27,             // [32] signed
  systemMinimumTemperature = 28,      // [32] signed
  systemInputPowerSource = 29,        // [8]
  systemInputPowerBehavior = 30,      // [8] settable
  systemInputPowerBehaviorConfig = 31,  // byte array of 32-bit words, settable
  systemName = 32,                    // byte array, settable
  systemPowerLimit = 33,              // [32]
  systemPowerLimitMax = 34,           // [32] settable
  systemPowerLimitState = 35,         // [32]
  systemResetDeviceToFactoryDefaults = 37,  // call
  systemLinkInterface = 38,           // [8] settable
  systemUniqueIdentifier = 39,        // [32] subindex 0 to 3: the 128-bit unique id
  systemHardwareVersion = 40,         // [32]
  systemErrors = 41,                  // [32]
  systemLEDMaxBrightness = 42,        // [8] settable
  systemBuild = 43,                   // [32]
  systemProtocolFeatures = 45,        // [32] bit 31: pooled packets
};

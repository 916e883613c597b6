// The command line turned into one record, and the rules that fill it.
#pragma once

#include <stdint.h>

#include <string>

class CLI_Display;

enum COMMANDS : uint32_t {
  CMD_DISCOVER = 0x00000001,
  CMD_UPDATE = 0x00000002,
  CMD_LIST_BUILDS = 0x00000004,
  CMD_GET_BUILD = 0x00000008,
  CMD_INFO = 0x00000010,         // recorded; no command acts on it
  CMD_CHECK_BIRD = 0x00000020,   // recorded; no command acts on it
  CMD_FINGERPRINT = 0x00000040,
  CMD_Z = 0x00000080,            // recorded; no command acts on it
  CMD_GET_JWT = 0x00000100,
  CMD_LIST_LOCAL = 0x00000200,
  CMD_HELP = 0x80000000,
};

// Any of these bits means a command was asked for.
constexpr uint32_t CMD_ANY_MASK = 0x000307FF;

class CommandsClass {
 public:
  bool Set(uint32_t bit) {
    bits |= bit;
    return bits != 0;
  }
  bool IsSet(uint32_t mask) const { return (bits & mask) != 0; }
  uint32_t Bits() const { return bits; }

 private:
  uint32_t bits = 0;
};

constexpr int TRANSPORT_INVALID = 0;
constexpr int TRANSPORT_USB = 1;
constexpr int TRANSPORT_TCPIP = 2;
constexpr int TRANSPORT_RECOVER = 0xFF;

struct Parameters {
  CommandsClass commands;
  uint32_t serialNumber = 0;
  uint32_t routerSerial = 0;
  int transport = TRANSPORT_USB;
  bool transportGiven = false;
  std::string serialPort;
  uint32_t baudRate = 115200;
  uint8_t moduleAddress = 0;
  std::string birdFile;
  std::string logMessage;
  std::string build;
  bool echo = false;
  std::string updateServerURL;
  bool flagN = false;
  std::string storeDirectory;
  std::string applicationName;
  std::string homeDirectory;
  std::string logMode = "a+";
  std::string logFile = "Updater.log";
  bool overrideModelCheck = false;
  bool useUEIBytes = true;
  uint32_t logMask = 0;
  bool logMaskGiven = false;
  bool helpRequested = false;
};

// Host and port of the default update server, fixed at build time.
const char* DefaultUpdateServerHost();
// "http://" or "https://" + the default host + "/cgi/u".
std::string DefaultUpdateServerURL(bool https);

// 0 when every option was accepted, 1 when one was rejected with a message.
int _get_params(CLI_Display& display, int argc, char** argv, Parameters* params);
int _validate_params(Parameters* params);
int _release_params(Parameters* params);

// Strict conversions: 0, with *end untouched, for text with any character
// outside the digit set; 0 as well for a null end. A value too large for 32
// bits also gives 0, so it can never alias another device's serial number.
uint32_t _get_hex_arg(const char* text, char** end);
uint32_t _get_int_arg(const char* text, char** end);

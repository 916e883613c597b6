// Process-wide diagnostic log, filtered by a mask of packages (one bit per
// area of the program, set with -X). Package 0 always prints.
#pragma once

#include <stdint.h>
#include <stdio.h>

#define DEBUG_Updater 0x00000001u
#define DEBUG_History 0x00000002u
#define DEBUG_Attributes 0x00000004u
#define DEBUG_BirdFile 0x00000008u
#define DEBUG_Network_Legacy 0x00000010u  // listed as "DEBUG_Network"; unused
#define DEBUG_ServerComm 0x00000020u
#define DEBUG_Network 0x00000100u
#define DEBUG_Network_SR 0x00000200u
#define DEBUG_Network_FIRM 0x00000400u
#define DEBUG_NXPSerial 0x00001000u
#define DEBUG_NXPSerial_E 0x00002000u
#define DEBUG_NXPSerial_SR 0x00004000u
#define DEBUG_APP 0x00010000u
#define DEBUG_iMXSerial 0x10000000u

class Log {
 public:
  static constexpr const char* TIMESTAMP_FORMAT = "%Y:%m:%d:%H:%M:%S";
  static constexpr const char* SEPARATOR = " | ";

  // Formats carry their own "\n". Text beyond 2047 characters is cut.
  static void log(unsigned package, const char* format, ...) __attribute__((format(printf, 2, 3)));
  static void SetOutput(FILE* fh);
  static void ActivatePackage(uint32_t mask);
  static void DeactivatePackage(uint32_t mask);

  // Whether a message of `package` would be written.
  static bool IsActive(unsigned package);

  static uint32_t package_bitmask;
  static FILE* fh;
  static bool timestamped;
};

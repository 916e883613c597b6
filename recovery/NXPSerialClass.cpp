// NXPSerialClass: opening the port, synchronising, and the ISP commands with
// their block transfers.
#include "recovery/NXPSerialClass.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/Log.h"
#include "sdk/core/tSerialStream.h"
#include "sdk/core/tTime.h"

namespace {

const unsigned kLineTries = 100;
const unsigned kVerdictTries = 2000;
const unsigned kRates[8] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
const int kDefaultRateIndex = 2;

}  // namespace

NXPSerialClass::NXPSerialClass() {
  portName_[0] = '\0';
  memset(deviceSerial_, 0, sizeof(deviceSerial_));
}

NXPSerialClass::~NXPSerialClass() { Disconnect(); }

tErr NXPSerialClass::Connect(const char* port, unsigned baud) {
  if (stream_ != nullptr) tStream_Destroy(&stream_);
  int index = kDefaultRateIndex;
  for (int i = 0; i < 8; i++) {
    if (kRates[i] >= baud) {
      index = i;
      break;
    }
  }
  baudRate_ = kRates[index];
  const char* shown = port != nullptr ? port : "";
  Log::log(DEBUG_NXPSerial, "Creating serial connection: [%s] stream baud:%d(%d)\n", shown, index, baudRate_);
  tErr err = tStream_CreateSerial(port, index, false, 0, 0, &stream_);
  if (err != tErrNone) {
    Log::log(DEBUG_NXPSerial, "Error Creating Serial [%s] ==> %s", shown, tError_GetErrorText(err));
    return err;
  }
  snprintf(portName_, sizeof(portName_), "%s", port);
  return tErrNone;
}

tErr NXPSerialClass::Disconnect() {
  if (stream_ != nullptr) tStream_Destroy(&stream_);
  return tErrNone;
}

tErr NXPSerialClass::Sync() {
  char buffer[64];
  unsigned count = 0;
  static const char kSynchronized[] = "Synchronized\r\n";

  Send("?", false);
  memset(buffer, 0, sizeof(buffer));
  tErr err = Response(buffer, sizeof(buffer), &count, kSynchronized, 14);
  if (err != tErrNone) {
    Log::log(DEBUG_NXPSerial, "Did not receive correct response to opening sync command: [%s]. Response: [%s]\n", "?",
             buffer);
    return err;
  }
  if (memcmp(buffer, kSynchronized, 14) != 0) Log::log(DEBUG_NXPSerial, "Did not receive correct response [%s]\n", buffer);

  Send(kSynchronized, false);
  Response(buffer, sizeof(buffer), &count, kSynchronized, 13);  // its echo, but for the LF
  memset(buffer, 0, sizeof(buffer));
  err = Response(buffer, sizeof(buffer), &count, "OK\r\n", 4);
  if (strncmp(buffer, "OK", 2) != 0) {
    // Without the OK the ROM went back to waiting for "?": the crystal line
    // would only be noise to it.
    Log::log(DEBUG_NXPSerial, "Did not receive correct response [%s] != [%s]\n", buffer, "OK");
    return err != tErrNone ? err : tErrIO;
  }

  char crystal[16];
  snprintf(crystal, sizeof(crystal), "%d\r\n", static_cast<int>(0.5f + CRYSTAL_DEFAULT * 1000.0f));
  Send(crystal, false);
  Response(buffer, sizeof(buffer), &count, crystal, static_cast<unsigned>(strlen(crystal) - 1));
  memset(buffer, 0, sizeof(buffer));
  return Response(buffer, sizeof(buffer), &count, "OK\r\n", 4);
}

tErr NXPSerialClass::ReturnCode(unsigned package, const char* format) {
  char line[64];
  unsigned count = 0;
  tErr err = GetLine(line, sizeof(line), &count, kLineTries);
  if (count < TERMINATION_SIZE || line[count - 2] != '\r' || line[count - 1] != '\n') {
    return err != tErrNone ? err : tErrIO;
  }
  // The code's last digit sits at the error index; with echo on, digits
  // before it belong to the same code (COMPARE_ERROR is "10").
  unsigned last = GetErrorIndex(count);
  unsigned first = last;
  while (first > 0 && isdigit(static_cast<unsigned char>(line[first - 1]))) first--;
  bool success = line[last] == '0' && last == first && !isdigit(static_cast<unsigned char>(line[last + 1]));
  if (success) return tErrNone;
  if (format != nullptr) Log::log(package, format, GetErrorText(line + first));
  return tErrParam;
}

tErr NXPSerialClass::Command(const char* command, const char* sendFormat, unsigned package,
                             const char* responseFormat) {
  tErr err = SendCommand(command, 0);
  if (err != tErrNone) {
    Log::log(DEBUG_NXPSerial, sendFormat, command, tError_GetErrorText(err));
    return err;
  }
  return ReturnCode(package, responseFormat);
}

tErr NXPSerialClass::Simple(const char* command, const char* errorFormat) {
  return Command(command, "Error Sending command [%s] [%s]\n", DEBUG_NXPSerial, errorFormat);
}

tErr NXPSerialClass::ValueLine(char* buffer, unsigned size) {
  unsigned count = 0;
  tErr err = GetLine(buffer, size, &count, kLineTries);
  if (count < TERMINATION_SIZE || buffer[count - 1] != '\n') return err != tErrNone ? err : tErrIO;
  return tErrNone;
}

tErr NXPSerialClass::GetDeviceID() {
  tErr err = Simple("N\r\n", nullptr);
  if (err != tErrNone) return err;
  uint32_t words[4];
  for (uint32_t& word : words) {
    char line[32];
    err = ValueLine(line, sizeof(line));
    if (err != tErrNone) return err;
    word = static_cast<uint32_t>(strtoul(line, nullptr, 0));
  }
  memcpy(deviceSerial_, words, sizeof(words));
  return tErrNone;
}

tErr NXPSerialClass::GetPartNumber(long* part) {
  if (part == nullptr) return tErrParam;
  tErr err = Simple("J\r\n", nullptr);
  if (err != tErrNone) return err;
  char line[32];
  err = ValueLine(line, sizeof(line));
  if (err != tErrNone) return err;
  *part = strtol(line, nullptr, 0);
  Log::log(DEBUG_NXPSerial, "Device responded with part number: %lld\n", static_cast<long long>(*part));
  return tErrNone;
}

tErr NXPSerialClass::GetBootLoaderVersion(uint8_t* major, uint8_t* minor) {
  if (major == nullptr || minor == nullptr) return tErrParam;
  tErr err = Simple("K\r\n", nullptr);
  if (err != tErrNone) return err;
  char line[32];
  uint8_t parts[2];
  for (uint8_t& part : parts) {
    err = ValueLine(line, sizeof(line));
    if (err != tErrNone) return err;
    part = static_cast<uint8_t>(strtol(line, nullptr, 0));
  }
  *major = parts[0];
  *minor = parts[1];
  Log::log(DEBUG_NXPSerial, "Device responded with version: %d.%d\n", *major, *minor);
  return tErrNone;
}

tErr NXPSerialClass::Unlock() {
  char command[32];
  snprintf(command, sizeof(command), "U %u\r\n", UNLOCK_CODE);
  return Simple(command, nullptr);
}

tErr NXPSerialClass::SetBaudRate(unsigned baud) {
  char command[48];
  snprintf(command, sizeof(command), "B %u %d\r\n", baud, 1);
  return Simple(command, nullptr);
}

tErr NXPSerialClass::SetEcho(bool on) {
  Log::log(DEBUG_NXPSerial, "Setting device echo %d\n", on ? 1 : 0);
  char command[16];
  snprintf(command, sizeof(command), "A %d\r\n", on ? 1 : 0);
  tErr err = Simple(command, nullptr);
  if (err != tErrNone) return tErrParam;
  echo_ = on;
  return tErrNone;
}

tErr NXPSerialClass::Prepare(unsigned first, unsigned last) {
  if (last < first) return tErrParam;
  char command[48];
  snprintf(command, sizeof(command), "P %u %u\r\n", first, last);
  return Simple(command, "Error response ==>[%s]\n");
}

tErr NXPSerialClass::Erase(unsigned first, unsigned last) {
  if (last < first) return tErrParam;
  char command[48];
  snprintf(command, sizeof(command), "E %u %u\r\n", first, last);
  return Simple(command, "Error response ==>[%s]\n");
}

tErr NXPSerialClass::CopyToFlash(unsigned flash, unsigned ram, unsigned count) {
  if (flash % 256 != 0) return tErrParam;
  if (count != 256 && count != 512 && count != 1024 && count != 4096) return tErrParam;
  char command[64];
  snprintf(command, sizeof(command), "C %u %u %u\r\n", flash, ram, count);
  return Simple(command, "Error response ==>[%s]\n");
}

tErr NXPSerialClass::ExecuteFrom(unsigned address) {
  char command[32];
  snprintf(command, sizeof(command), "G %u T\r\n", address);
  tErr err = SendCommand(command, 0);
  if (err != tErrNone) Log::log(DEBUG_NXPSerial, "Error Sending command [%s] [%s]\n", command, tError_GetErrorText(err));
  return err;
}

tErr NXPSerialClass::Write(unsigned ram, unsigned count, const uint8_t* data) {
  if (count == 0 || count % 4 != 0 || data == nullptr) return tErrParam;
  char command[64];
  snprintf(command, sizeof(command), "W %u %u\r\n", ram, count);
  tErr err = Command(command, "Write() Error Sending command [%s] [%s]\n", DEBUG_NXPSerial_SR,
                     "Write() Error response ==>[%s]\n");
  if (err != tErrNone) return err;

  unsigned budget = MAX_READ_RETRY;
  unsigned checkpoint = 0;
  unsigned offset = 0;
  unsigned lines = 0;
  while (offset < count) {
    char line[MAX_BYTES_PER_LINE / 3 * 4 + 2];
    unsigned n = count - offset < MAX_BYTES_PER_LINE ? count - offset : MAX_BYTES_PER_LINE;
    uuencode(line, data + offset, n);
    Send(line, echo_);
    Send("\r\n", echo_);
    offset += n;
    lines++;
    if (lines < LINES_PER_CHECKSUM && offset < count) continue;

    unsigned checksum = sum(data + checkpoint, offset - checkpoint);
    Log::log(DEBUG_NXPSerial, "Write() Checksum: %08X (%d)\n", checksum, checksum);
    char text[24];
    snprintf(text, sizeof(text), "%u\r\n", checksum);
    Send(text, echo_);
    uint64_t start = tTime_GetMonotonicMSTicks();
    char verdict[32];
    unsigned got = 0;
    GetLine(verdict, sizeof(verdict), &got, kVerdictTries);
    Log::log(DEBUG_NXPSerial_E, "Write() waited for checksum %d ms\n",
             static_cast<int>(tTime_GetMonotonicMSTicks() - start + 1));
    if (strcmp(verdict, "OK\r\n") == 0) {
      checkpoint = offset;
      Log::log(DEBUG_NXPSerial, "Write() valid transfer of %d of %d (%.0f%%) bytes\n", offset, count,
               100.0 * offset / count);
    } else if (strcmp(verdict, "RESEND\r\n") == 0) {
      if (--budget == 0) {
        Log::log(DEBUG_NXPSerial, "Write() exceeded retries\n");
        return tErrTimeout;
      }
      offset = checkpoint;
    } else {
      Log::log(DEBUG_NXPSerial, "Write() unexpected response [%s]\n", verdict);
      return tErrIO;
    }
    lines = 0;
  }
  return tErrNone;
}

tErr NXPSerialClass::Read(unsigned address, unsigned count, uint8_t* data) {
  if (count == 0 || count % 4 != 0 || data == nullptr) return tErrParam;
  char command[64];
  snprintf(command, sizeof(command), "R %u %u\r\n", address, count);
  tErr err = Simple(command, "Error response ==>[%s]\n");
  if (err != tErrNone) return err;

  unsigned budget = MAX_READ_RETRY;
  unsigned checkpoint = 0;
  unsigned offset = 0;
  unsigned lines = 0;
  bool groupGood = true;
  while (offset < count) {
    char line[128];
    err = ValueLine(line, sizeof(line));
    if (err != tErrNone) return err;
    // The ROM's lines carry 45 bytes but for the last one; a line that does
    // not decode to its share is counted as read and spoils its group, so
    // the checksum asks for the group again.
    unsigned n = count - offset < MAX_BYTES_PER_LINE ? count - offset : MAX_BYTES_PER_LINE;
    if (uudecode(data + offset, n, line) != n) groupGood = false;
    offset += n;
    lines++;
    if (lines < LINES_PER_CHECKSUM && offset < count) continue;

    err = ValueLine(line, sizeof(line));
    if (err != tErrNone) return err;
    unsigned long checksum = static_cast<unsigned long>(strtol(line, nullptr, 0));
    if (groupGood && checksum == sum(data + checkpoint, offset - checkpoint)) {
      Send("OK\r\n", false);
      if (echo_) {
        char echoed[8];
        unsigned got = 0;
        Response(echoed, sizeof(echoed), &got, "OK\r\n", offset < count ? 3 : 4);
      }
      checkpoint = offset;
      Log::log(DEBUG_NXPSerial, "valid receipt of %d of %d (%.0f%%) bytes\n", offset, count, 100.0 * offset / count);
    } else {
      if (--budget == 0) return tErrTimeout;
      Send("RESEND\r\n", echo_);
      offset = checkpoint;
      groupGood = true;
    }
    lines = 0;
  }
  return tErrNone;
}

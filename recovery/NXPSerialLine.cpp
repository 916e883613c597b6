// The line primitives of NXPSerialClass: sending text with or without
// reading its echo, reading reply lines and fixed-length answers. Every read
// takes one byte; on this port a read with nothing waiting returns at once,
// and the tries below count those empty reads.
#include <stdio.h>
#include <string.h>

#include <string>

#include "app/Log.h"
#include "recovery/NXPSerialClass.h"
#include "sdk/core/tTime.h"

namespace {

const unsigned kEchoTries = 100;
// How long a reply may trail the time its length needs on the line: a chip
// answers at once, but a busy host or a USB serial adapter can hold bytes back.
const uint32_t kLateReplyGraceMs = 250;

// How a byte shows in the printable half of a trace line.
enum class _Show { kEscapes, kSpaces };

std::string _printable(const char* data, size_t n, _Show show) {
  std::string out;
  for (size_t i = 0; i < n; i++) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (show == _Show::kEscapes && c == '\r') {
      out += "\\r";
    } else if (show == _Show::kEscapes && c == '\n') {
      out += "\\n";
    } else {
      out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : ' ';
    }
  }
  return out;
}

std::string _hex(const char* data, size_t n) {
  std::string out;
  char two[8];
  for (size_t i = 0; i < n; i++) {
    snprintf(two, sizeof(two), "%s%02X", i == 0 ? "" : " ", static_cast<unsigned char>(data[i]));
    out += two;
  }
  return out;
}

// "<prefix>[<hex>] [<printable>]<suffix>" as one log line.
void _logBytes(unsigned package, const char* prefix, const char* data, size_t n, _Show show, const char* suffix) {
  if (!Log::IsActive(package)) return;
  Log::log(package, "%s[%s] [%s]%s", prefix, _hex(data, n).c_str(), _printable(data, n, show).c_str(), suffix);
}

}  // namespace

// The pause after a read that found nothing: 1 ms, or one character time
// (10 bit times) at rates where a character takes longer, so that a try is
// used up only by a line that is really quiet and the budgets of 100 and
// 2000 tries hold a whole data line or checksum group at every rate. It ends
// early when a byte arrives (the stream's wait wakes at once then).
void NXPSerialClass::IdleOneTry() {
  uint32_t ms = baudRate_ > 0 ? (10000 + baudRate_ - 1) / baudRate_ : 1;
  if (ms < 1) ms = 1;
  if (tStream_Wait(stream_, ms) == tErrParam) tTime_MSSleep(ms);
}

tErr NXPSerialClass::Send(const char* text, bool readEcho) {
  size_t n = strlen(text);
  _logBytes(DEBUG_NXPSerial_SR, "Sending:", text, n, _Show::kEscapes, "\n");
  tErr err = tStream_Write(stream_, reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(n));
  if (err != tErrNone) Log::log(DEBUG_NXPSerial, "Error Test_Serial_Send() [%s]\n", tError_GetErrorText(err));
  if (readEcho && n > 0) {
    unsigned count = 0;
    GetEcho(text, static_cast<unsigned>(n - 1), &count);
  }
  return err;
}

tErr NXPSerialClass::SendCommand(const char* command, unsigned waitMs) {
  size_t n = strlen(command);
  _logBytes(DEBUG_NXPSerial_SR, "Sending:", command, n, _Show::kSpaces, "\n");
  tErr err = tStream_Write(stream_, reinterpret_cast<const uint8_t*>(command), static_cast<uint32_t>(n));
  if (waitMs > 0) {
    Log::log(DEBUG_NXPSerial_E, "SendCommand() wait for command completion [%d ms]\n", waitMs);
    tTime_MSSleep(waitMs);
  }
  if (err != tErrNone) Log::log(DEBUG_NXPSerial, "Error Test_Serial_Send() [%s]\n", tError_GetErrorText(err));
  if (echo_ && n > 0) {
    unsigned count = 0;
    GetEcho(command, static_cast<unsigned>(n - 1), &count);
    if (count + 1 != n) {
      Log::log(DEBUG_NXPSerial, "Error SendCommand() bad echo [%d!=%d]\n", count + 1, static_cast<int>(n));
    }
  }
  if (err != tErrNone) Log::log(DEBUG_NXPSerial, "Error Write Serial [%s]\n", tError_GetErrorText(err));
  return err;
}

tErr NXPSerialClass::GetEcho(const char* expected, unsigned length, unsigned* count) {
  bool trace = Log::IsActive(DEBUG_NXPSerial_E);
  std::string line;
  if (trace) {
    Log::log(DEBUG_NXPSerial_E, "GetEcho([%s] %d, ...)\n",
             _printable(expected, length, _Show::kEscapes).c_str(), length);
  }
  unsigned tries = kEchoTries;
  unsigned matched = 0;
  tErr err = tErrNone;
  char piece[16];
  while (matched < length && tries > 0) {
    uint8_t b;
    err = tStream_Read(stream_, &b, 1);
    if (err != tErrNone) {
      tries--;
      IdleOneTry();
      if (trace) line += ".";
      continue;
    }
    if (b == static_cast<uint8_t>(expected[matched])) {
      matched++;
      if (trace) snprintf(piece, sizeof(piece), " %02X", b);
    } else {
      // A byte that is not the echo is dropped. It uses up a try too, so a
      // line that keeps sending something else cannot hold us for ever.
      tries--;
      if (trace) snprintf(piece, sizeof(piece), " %.2X!=%.2X", b, static_cast<uint8_t>(expected[matched]));
    }
    if (trace) line += piece;
  }
  if (trace) Log::log(DEBUG_NXPSerial_E, "recv Echo:[%s]\n", line.c_str());
  *count = matched;
  return err;
}

tErr NXPSerialClass::GetLine(char* buffer, unsigned size, unsigned* count, unsigned tries) {
  unsigned stored = 0;
  bool sawCR = false;
  bool terminated = false;
  tErr err = tErrNone;
  std::string dots;
  while (stored + 1 < size && !terminated && tries > 0) {
    uint8_t b;
    err = tStream_Read(stream_, &b, 1);
    if (err != tErrNone) {
      tries--;
      IdleOneTry();
      dots += ".";
      continue;
    }
    if (b == '\n' && stored == 0) {
      // The tail of the echo of the previous command.
      tries--;
      dots += ",";
      IdleOneTry();
      continue;
    }
    buffer[stored++] = static_cast<char>(b);
    if (b == '\n' && sawCR) terminated = true;
    sawCR = b == '\r';
  }
  buffer[stored] = '\0';
  *count = stored;
  if (Log::IsActive(DEBUG_NXPSerial_SR)) {
    char tail[96];
    snprintf(tail, sizeof(tail), " %d %s [%s]\n", stored, terminated ? "term" : "non-term", tError_GetErrorText(err));
    if (!dots.empty()) Log::log(DEBUG_NXPSerial_SR, "%s\n", dots.c_str());
    _logBytes(DEBUG_NXPSerial_SR, "GetLine() Received: ", buffer, stored, _Show::kEscapes, tail);
  }
  return err;
}

unsigned NXPSerialClass::GetErrorIndex(unsigned count) const {
  return (echo_ && count > TERMINATION_SIZE) ? count - 3 : 0;
}

tErr NXPSerialClass::Response(char* buffer, unsigned size, unsigned* count, const char* expected,
                              unsigned expectedLength) {
  unsigned limit = expected != nullptr ? expectedLength : size - 1;
  if (limit > size) limit = size;
  unsigned baud = baudRate_ != 0 ? baudRate_ : 9600;
  unsigned wait = (limit * 9000 + 18000) / baud + 1 + 20;
  Log::log(DEBUG_NXPSerial_E, "Response() wait for serial [%d bytes, %d, %d ms]\n", limit, baud, wait);
  tTime_MSSleep(wait);

  unsigned stored = 0;
  bool sawCR = false;
  bool terminated = false;
  tErr err = tErrNone;
  const uint64_t graceEnd = tTime_GetMonotonicMSTicks() + kLateReplyGraceMs;
  while (stored < limit && !terminated) {
    uint8_t b;
    err = tStream_Read(stream_, &b, 1);
    if (err == tErrNotReady) {
      const uint64_t now = tTime_GetMonotonicMSTicks();
      if (now >= graceEnd) break;
      tStream_Wait(stream_, static_cast<uint32_t>(graceEnd - now));
      continue;
    }
    if (err != tErrNone) break;
    if (stored == 0 && b == '\n') {
      Log::log(DEBUG_NXPSerial_E, "Response ignoring leading \\n\n");
      continue;
    }
    if (stored == 0 && b == '\r') {
      Log::log(DEBUG_NXPSerial_E, "Response ignoring leading \\r\n");
      continue;
    }
    if (stored < 3 && b == 0) {
      Log::log(DEBUG_NXPSerial_E, "Response ignoring leading 0 byte\n");
      continue;
    }
    if (expected != nullptr && b != static_cast<uint8_t>(expected[stored])) {
      char e = expected[stored];
      Log::log(DEBUG_NXPSerial, "Error Test_Serial_Response() Expected byte %d does not match [[%02X] %c != %c [%02X]]\n",
               stored, b, b, e, static_cast<uint8_t>(e));
    }
    buffer[stored++] = static_cast<char>(b);
    if (b == '\n' && sawCR) terminated = true;
    sawCR = b == '\r';
  }
  *count = stored;
  if (Log::IsActive(DEBUG_NXPSerial_SR)) {
    Log::log(DEBUG_NXPSerial_SR, "Response: [%s]\n", _printable(buffer, stored, _Show::kEscapes).c_str());
  }
  return (stored == limit || terminated) ? tErrNone : err;
}

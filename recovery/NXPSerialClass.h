// Driver of the In-System Programming boot loader in the ROM of an NXP
// LPC17xx, over a serial port. Recovery uses it to read the chip's 128-bit
// serial number (the module's fingerprint) and to write a firmware image
// straight into flash when the module's own firmware no longer runs.
//
// The protocol is the one NXP publishes for the LPC17xx ISP mode: ASCII
// commands ending in CR LF with decimal numbers, each answered with a
// decimal return code on its own line; uuencoded data lines with a decimal
// checksum after every 20 lines; the ROM echoes what it receives until echo
// is switched off.
//
// Every operation that talks to the chip returns a tErr: tErrNone, tErrParam
// for a bad argument or a non-zero ISP return code, tErrIO for a bad
// protocol answer, tErrTimeout when the retries run out, or the stream's own
// code (tErrNotReady when the chip did not answer in time). Nothing is
// thrown. Log lines go through Log under DEBUG_NXPSerial (errors and
// progress), DEBUG_NXPSerial_E (echo and timing) and DEBUG_NXPSerial_SR (raw
// bytes sent and received).
//
// One object serves one thread; no lock is taken.
#pragma once

#include <stdint.h>

#include "sdk/core/tErr.h"
#include "sdk/core/tStream.h"

class NXPSerialClass {
 public:
  static constexpr uint8_t MAX_ERROR = 20;              // last ERROR_TEXT entry
  static constexpr float CRYSTAL_DEFAULT = 14.7456f;    // crystal, MHz
  static constexpr unsigned MAX_BYTES_PER_LINE = 45;    // data bytes per uuencoded line
  static constexpr unsigned LINES_PER_CHECKSUM = 20;    // data lines between checksums
  static constexpr unsigned MAX_READ_RETRY = 3;         // retry budget of one Write or Read
  static constexpr uint32_t WRITE_ADDRESS = 0x10001000; // RAM staging address of the recovery
  // The unlock code NXP publishes for the LPC17xx ISP; the ROM answers any
  // other code with INVALID_CODE.
  static constexpr unsigned UNLOCK_CODE = 23130;
  static const char* const ERROR_TEXT[MAX_ERROR + 1];

  struct SectorRow {
    uint32_t start;
    uint32_t size;
    uint32_t sector;
  };
  // Sectors 0..15 of 4 KiB, 16..29 of 32 KiB, then the end row (start
  // 0xFFFFFFFF, size 0, sector 30).
  static const SectorRow NXP_LPC17XX_sectors[31];

  NXPSerialClass();
  ~NXPSerialClass();
  NXPSerialClass(const NXPSerialClass&) = delete;
  NXPSerialClass& operator=(const NXPSerialClass&) = delete;

  // Opens the port (8N1, raw) at the first rate of 2400, 4800, 9600, 19200,
  // 38400, 57600, 115200, 230400 not below `baud`; above 230400, 9600. An
  // open stream is closed first. Returns the serial stream's error.
  tErr Connect(const char* port, unsigned baud);
  // Closes the stream if open. Returns tErrNone.
  tErr Disconnect();

  // Autobaud "?", the "Synchronized" handshake and the crystal frequency
  // (14746 kHz). tErrIO when the ROM does not confirm the handshake.
  tErr Sync();
  // "N": the four device serial words, in the order received (deviceSerial).
  tErr GetDeviceID();
  // "J": the part id. tErrParam for a null pointer.
  tErr GetPartNumber(long* part);
  // "K": the boot code version. tErrParam for a null pointer.
  tErr GetBootLoaderVersion(uint8_t* major, uint8_t* minor);
  // "U 23130".
  tErr Unlock();
  // "B rate 1".
  tErr SetBaudRate(unsigned baud);
  // "A 1" or "A 0"; the echo field follows on success.
  tErr SetEcho(bool on);
  // "P first last" and "E first last"; last < first is tErrParam, unsent.
  tErr Prepare(unsigned first, unsigned last);
  tErr Erase(unsigned first, unsigned last);
  // "C flash ram count": flash a multiple of 256 and count one of 256, 512,
  // 1024 or 4096, else tErrParam, unsent.
  tErr CopyToFlash(unsigned flash, unsigned ram, unsigned count);
  // "G address T"; no reply is read.
  tErr ExecuteFrom(unsigned address);
  // Writes count bytes (a non-zero multiple of 4) to RAM: uuencoded lines
  // with checksums. Up to two RESENDs per call are honoured; a third ends it
  // with tErrTimeout.
  tErr Write(unsigned ram, unsigned count, const uint8_t* data);
  // Reads count bytes (a non-zero multiple of 4) from the chip, checking each
  // group's checksum and asking RESEND on a mismatch, with the same budget.
  tErr Read(unsigned address, unsigned count, uint8_t* data);

  // The ERROR_TEXT of the decimal code at the start of line; "Unknown error"
  // for a code outside 0..MAX_ERROR or a null line.
  static const char* GetErrorText(const char* line);
  // The sector holding the address; 30 beyond the table.
  static unsigned SectorFromAddress(unsigned address);
  // n rounded up to 256, 512, 1024 or 4096; above 4096, n (logged).
  static unsigned CopyLength(unsigned n);
  static unsigned sum(const uint8_t* data, unsigned n);
  // One uuencoded line of at most 45 bytes into out (62 bytes of room),
  // NUL-terminated, without line end. Returns the bytes consumed.
  static unsigned uuencode(char* out, const uint8_t* data, unsigned n);
  // Decodes one line (a line end is allowed) into out. Returns the byte
  // count, or 0 when the count exceeds room or the line holds fewer
  // characters than the count needs: it never writes past room and never
  // reads past the end of the line.
  static unsigned uudecode(uint8_t* out, unsigned room, const char* line);

  const uint32_t* deviceSerial() const { return deviceSerial_; }
  bool echo() const { return echo_; }
  uint32_t baudRate() const { return baudRate_; }
  const char* portName() const { return portName_; }

 private:
  static constexpr unsigned TERMINATION_SIZE = 2;

  tErr Send(const char* text, bool readEcho);
  tErr SendCommand(const char* command, unsigned waitMs);
  tErr GetEcho(const char* expected, unsigned length, unsigned* count);
  tErr GetLine(char* buffer, unsigned size, unsigned* count, unsigned tries);
  unsigned GetErrorIndex(unsigned count) const;
  tErr Response(char* buffer, unsigned size, unsigned* count, const char* expected, unsigned expectedLength);
  void IdleOneTry();

  // The return-code line of a command: tErrNone for code 0, tErrParam for
  // another code (logged as format with the code's text, when format is not
  // null), or the read's error when no whole line came.
  tErr ReturnCode(unsigned package, const char* format);
  // Sends a command and reads its return code; a failed send is logged with
  // sendFormat (command, error text).
  tErr Command(const char* command, const char* sendFormat, unsigned package, const char* responseFormat);
  // The same with the usual send error line, failures logged under
  // DEBUG_NXPSerial.
  tErr Simple(const char* command, const char* errorFormat);
  // One whole reply line (CR LF included) into buffer.
  tErr ValueLine(char* buffer, unsigned size);

  tStream* stream_ = nullptr;
  bool echo_ = true;
  uint32_t baudRate_ = 0;
  char portName_[2048];
  uint32_t deviceSerial_[4];
};

// The ISP command handler of the simulated LPC17xx boot ROM, independent of
// the line it runs on: bytes from the host go in through Receive, and the
// bytes the ROM sends back come out of TakeOutput.
//
// It follows the protocol NXP publishes for the LPC17xx: autobaud on "?",
// the "Synchronized" handshake and the crystal line; then ASCII commands
// ending in CR LF, each answered with its decimal return code on a line of
// its own; every received character echoed while echo is on (the default);
// data lines uuencoded, 45 bytes a line, with a decimal checksum after every
// 20 lines and after the last one, answered "OK" or "RESEND".
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/lpc/LpcMemory.h"

namespace lpcsim {

struct LpcIspOptions {
  uint32_t partId = 0x26013F37;  // LPC1768
  uint32_t serial[4] = {0x51A0C3F1, 0x2B7E1516, 0x28AED2A6, 0xABF71588};
  unsigned bootMajor = 4;
  unsigned bootMinor = 1;
  int resendNext = 0;        // answer RESEND to the next N write checksums
  // One character per write checksum from the first on: 'R' answers RESEND
  // whatever the sum, any other character answers on the merits. Used up
  // before resendNext.
  std::string resendScript;
  int badReadChecksums = 0;  // send a wrong checksum for the next N read groups
  // Commands of this letter are answered with failCode and not carried out
  // (no letter: none).
  char failLetter = 0;
  int failCode = 0;
};

class LpcIsp {
 public:
  static constexpr uint32_t kUnlockCode = 23130;

  explicit LpcIsp(const LpcIspOptions& options);

  void Receive(uint8_t byte);
  // The bytes to send since the last call.
  std::string TakeOutput();
  // A baud rate set with "B" takes effect once the answer has gone out:
  // true (once) with the new rate after the command that set it.
  bool TakeBaudChange(uint32_t* baud);
  // Diagnostics (execution, overwritten flash, refused lines) for stderr.
  void SetNotes(std::function<void(const std::string&)> notes) { notes_ = std::move(notes); }

  bool synchronized() const { return state_ != State::kAutobaud && state_ != State::kSyncLine; }
  bool echo() const { return echo_; }
  bool unlocked() const { return unlocked_; }
  bool running() const { return state_ == State::kRunning; }
  uint32_t crystalKHz() const { return crystalKHz_; }
  LpcMemory& memory() { return memory_; }

 private:
  enum class State { kAutobaud, kSyncLine, kCrystal, kCommand, kWriteData, kReadReply, kRunning };

  void Line(const std::string& line);
  void Command(const std::string& line);
  void Code(int code) { Send(std::to_string(code) + "\r\n"); }
  void Send(const std::string& text) { output_ += text; }
  void Note(const std::string& text) {
    if (notes_) notes_(text);
  }

  void CmdWrite(const std::vector<long long>& args);
  void WriteDataLine(const std::string& line);
  void CmdRead(const std::vector<long long>& args);
  void SendReadGroup();
  void ReadReply(const std::string& line);
  void CmdCopy(const std::vector<long long>& args);
  void CmdGo(const std::vector<long long>& args, const std::string& mode);
  void CmdCompare(const std::vector<long long>& args);

  LpcIspOptions options_;
  LpcMemory memory_;
  State state_ = State::kAutobaud;
  bool echo_ = true;
  bool unlocked_ = false;
  uint32_t crystalKHz_ = 0;
  std::string line_;
  bool lineTooLong_ = false;
  std::string output_;
  bool baudPending_ = false;
  uint32_t baud_ = 0;
  std::function<void(const std::string&)> notes_;

  // A write to RAM in progress.
  uint32_t writeAddress_ = 0, writeCount_ = 0, writeDone_ = 0;
  std::vector<uint8_t> writeGroup_;
  int writeGroupLines_ = 0;
  // A read in progress.
  std::vector<uint8_t> readData_;
  uint32_t readDone_ = 0, readGroupSize_ = 0;
};

}  // namespace lpcsim

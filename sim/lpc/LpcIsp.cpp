#include "sim/lpc/LpcIsp.h"

#include <stdio.h>
#include <stdlib.h>

#include <sstream>

#include "sim/lpc/LpcUu.h"

namespace lpcsim {

namespace {

const size_t kMaxLine = 200;
const uint32_t kBytesPerLine = 45;
const int kLinesPerChecksum = 20;

uint32_t Sum(const uint8_t* data, size_t n) {
  uint32_t s = 0;
  for (size_t i = 0; i < n; i++) s += data[i];
  return s;
}

// Splits a command line into its letter and decimal arguments; false when an
// argument is not a plain decimal number.
bool Parse(const std::string& line, std::string* letter, std::vector<std::string>* words) {
  std::istringstream in(line);
  in >> *letter;
  std::string w;
  while (in >> w) words->push_back(w);
  return true;
}

bool Decimal(const std::string& w, long long* v) {
  if (w.empty() || w.size() > 11) return false;
  for (char c : w) {
    if (c < '0' || c > '9') return false;
  }
  *v = atoll(w.c_str());
  return *v <= 0xFFFFFFFFll;  // every argument is a 32-bit value
}

}  // namespace

LpcIsp::LpcIsp(const LpcIspOptions& options) : options_(options) {}

std::string LpcIsp::TakeOutput() {
  std::string out;
  out.swap(output_);
  return out;
}

bool LpcIsp::TakeBaudChange(uint32_t* baud) {
  if (!baudPending_) return false;
  baudPending_ = false;
  *baud = baud_;
  return true;
}

void LpcIsp::Receive(uint8_t byte) {
  switch (state_) {
    case State::kRunning:
      return;  // the user program runs; the ISP handler is gone
    case State::kAutobaud:
      if (byte == '?') {
        Send("Synchronized\r\n");
        state_ = State::kSyncLine;
        line_.clear();
      }
      return;
    default:
      break;
  }
  if (echo_) output_ += static_cast<char>(byte);
  if (byte == '\n') {
    std::string line;
    line.swap(line_);
    bool tooLong = lineTooLong_;
    lineTooLong_ = false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (tooLong) {
      Note("line too long, ignored");
      return;
    }
    Line(line);
    return;
  }
  if (line_.size() < kMaxLine) {
    line_ += static_cast<char>(byte);
  } else {
    lineTooLong_ = true;
  }
}

void LpcIsp::Line(const std::string& line) {
  switch (state_) {
    case State::kSyncLine:
      if (line == "Synchronized") {
        Send("OK\r\n");
        state_ = State::kCrystal;
      } else {
        state_ = State::kAutobaud;  // not verified: wait for another "?"
      }
      return;
    case State::kCrystal:
      crystalKHz_ = static_cast<uint32_t>(atol(line.c_str()));
      Send("OK\r\n");
      state_ = State::kCommand;
      return;
    case State::kCommand:
      Command(line);
      return;
    case State::kWriteData:
      WriteDataLine(line);
      return;
    case State::kReadReply:
      ReadReply(line);
      return;
    default:
      return;
  }
}

void LpcIsp::Command(const std::string& line) {
  std::string letter;
  std::vector<std::string> words;
  Parse(line, &letter, &words);
  if (letter.empty()) return;
  std::vector<long long> args;
  std::string mode;
  for (size_t i = 0; i < words.size(); i++) {
    long long v;
    if (letter == "G" && i == 1) {
      mode = words[i];
      continue;
    }
    if (!Decimal(words[i], &v)) return Code(PARAM_ERROR);
    args.push_back(v);
  }
  auto need = [&](size_t n) { return args.size() == n; };
  if (options_.failLetter != 0 && letter.size() == 1 && letter[0] == options_.failLetter) {
    return Code(options_.failCode);
  }

  if (letter == "U") {
    if (!need(1)) return Code(PARAM_ERROR);
    if (args[0] != kUnlockCode) return Code(INVALID_CODE);
    unlocked_ = true;
    return Code(CMD_SUCCESS);
  }
  if (letter == "B") {
    if (!need(2)) return Code(PARAM_ERROR);
    static const long long rates[] = {9600, 19200, 38400, 57600, 115200, 230400};
    bool known = false;
    for (long long r : rates) known = known || r == args[0];
    if (!known) return Code(INVALID_BAUD_RATE);
    if (args[1] != 1 && args[1] != 2) return Code(INVALID_STOP_BIT);
    Code(CMD_SUCCESS);
    baudPending_ = true;
    baud_ = static_cast<uint32_t>(args[0]);
    return;
  }
  if (letter == "A") {
    if (!need(1) || args[0] > 1) return Code(PARAM_ERROR);
    Code(CMD_SUCCESS);
    echo_ = args[0] == 1;
    return;
  }
  if (letter == "W") return CmdWrite(args);
  if (letter == "R") return CmdRead(args);
  if (letter == "P" || letter == "E" || letter == "I") {
    if (!need(2)) return Code(PARAM_ERROR);
    if (letter == "E" && !unlocked_) return Code(CMD_LOCKED);
    int first = static_cast<int>(args[0]), last = static_cast<int>(args[1]);
    if (args[0] >= LpcMemory::kSectors || args[1] >= LpcMemory::kSectors) return Code(INVALID_SECTOR);
    if (letter == "P") return Code(memory_.Prepare(first, last));
    if (letter == "E") return Code(memory_.Erase(first, last));
    uint32_t offset = 0, contents = 0;
    IspCode code = memory_.BlankCheck(first, last, &offset, &contents);
    Code(code);
    if (code == SECTOR_NOT_BLANK) Send(std::to_string(offset) + "\r\n" + std::to_string(contents) + "\r\n");
    return;
  }
  if (letter == "C") return CmdCopy(args);
  if (letter == "G") return CmdGo(args, mode);
  if (letter == "M") return CmdCompare(args);
  if (letter == "J") {
    Code(CMD_SUCCESS);
    return Send(std::to_string(options_.partId) + "\r\n");
  }
  if (letter == "K") {
    Code(CMD_SUCCESS);
    return Send(std::to_string(options_.bootMajor) + "\r\n" + std::to_string(options_.bootMinor) + "\r\n");
  }
  if (letter == "N") {
    Code(CMD_SUCCESS);
    for (uint32_t w : options_.serial) Send(std::to_string(w) + "\r\n");
    return;
  }
  Code(INVALID_COMMAND);
}

void LpcIsp::CmdWrite(const std::vector<long long>& args) {
  if (args.size() != 2) return Code(PARAM_ERROR);
  uint32_t address = static_cast<uint32_t>(args[0]), count = static_cast<uint32_t>(args[1]);
  if (address % 4 != 0) return Code(ADDR_ERROR);
  if (count == 0 || count % 4 != 0) return Code(COUNT_ERROR);
  if (!memory_.IsRam(address, count)) return Code(ADDR_NOT_MAPPED);
  Code(CMD_SUCCESS);
  writeAddress_ = address;
  writeCount_ = count;
  writeDone_ = 0;
  writeGroup_.clear();
  writeGroupLines_ = 0;
  state_ = State::kWriteData;
}

void LpcIsp::WriteDataLine(const std::string& line) {
  bool checksumDue = writeGroupLines_ == kLinesPerChecksum || writeDone_ + writeGroup_.size() >= writeCount_;
  if (!checksumDue) {
    std::vector<uint8_t> bytes;
    if (!UuDecodeLine(line, &bytes)) Note("undecodable data line [" + line + "]");
    uint32_t room = writeCount_ - writeDone_ - static_cast<uint32_t>(writeGroup_.size());
    if (bytes.size() > room) bytes.resize(room);
    writeGroup_.insert(writeGroup_.end(), bytes.begin(), bytes.end());
    writeGroupLines_++;
    return;
  }
  long long checksum = -1;
  bool valid = Decimal(line, &checksum) && checksum == Sum(writeGroup_.data(), writeGroup_.size());
  if (!options_.resendScript.empty()) {
    if (options_.resendScript[0] == 'R') valid = false;
    options_.resendScript.erase(0, 1);
  } else if (options_.resendNext > 0) {
    options_.resendNext--;
    valid = false;
  }
  if (valid) {
    memory_.WriteRam(writeAddress_ + writeDone_, writeGroup_.data(), static_cast<uint32_t>(writeGroup_.size()));
    writeDone_ += static_cast<uint32_t>(writeGroup_.size());
    Send("OK\r\n");
  } else {
    Send("RESEND\r\n");
  }
  writeGroup_.clear();
  writeGroupLines_ = 0;
  if (writeDone_ >= writeCount_) state_ = State::kCommand;
}

void LpcIsp::CmdRead(const std::vector<long long>& args) {
  if (args.size() != 2) return Code(PARAM_ERROR);
  uint32_t address = static_cast<uint32_t>(args[0]), count = static_cast<uint32_t>(args[1]);
  if (address % 4 != 0) return Code(ADDR_ERROR);
  if (count == 0 || count % 4 != 0) return Code(COUNT_ERROR);
  if (!memory_.ReadBytes(address, count, &readData_)) return Code(ADDR_NOT_MAPPED);
  Code(CMD_SUCCESS);
  readDone_ = 0;
  state_ = State::kReadReply;
  SendReadGroup();
}

void LpcIsp::SendReadGroup() {
  uint32_t left = static_cast<uint32_t>(readData_.size()) - readDone_;
  readGroupSize_ = left < kBytesPerLine * kLinesPerChecksum ? left : kBytesPerLine * kLinesPerChecksum;
  for (uint32_t at = 0; at < readGroupSize_; at += kBytesPerLine) {
    uint32_t n = readGroupSize_ - at < kBytesPerLine ? readGroupSize_ - at : kBytesPerLine;
    Send(UuEncodeLine(&readData_[readDone_ + at], n) + "\r\n");
  }
  uint32_t sum = Sum(&readData_[readDone_], readGroupSize_);
  if (options_.badReadChecksums > 0) {
    options_.badReadChecksums--;
    sum += 1;
  }
  Send(std::to_string(sum) + "\r\n");
}

void LpcIsp::ReadReply(const std::string& line) {
  if (line == "RESEND") return SendReadGroup();
  if (line != "OK") {
    Note("read ended by [" + line + "]");
    state_ = State::kCommand;
    return;
  }
  readDone_ += readGroupSize_;
  if (readDone_ >= readData_.size()) {
    state_ = State::kCommand;
    return;
  }
  SendReadGroup();
}

void LpcIsp::CmdCopy(const std::vector<long long>& args) {
  if (args.size() != 3) return Code(PARAM_ERROR);
  if (!unlocked_) return Code(CMD_LOCKED);
  uint32_t flash = static_cast<uint32_t>(args[0]), ram = static_cast<uint32_t>(args[1]);
  uint32_t count = static_cast<uint32_t>(args[2]);
  if (flash % 256 != 0) return Code(DST_ADDR_ERROR);
  if (ram % 4 != 0) return Code(SRC_ADDR_ERROR);
  if (count != 256 && count != 512 && count != 1024 && count != 4096) return Code(COUNT_ERROR);
  if (!memory_.IsFlash(flash, count)) return Code(DST_ADDR_NOT_MAPPED);
  if (!memory_.IsRam(ram, count)) return Code(SRC_ADDR_NOT_MAPPED);
  bool overwrote = false;
  IspCode code = memory_.CopyRamToFlash(flash, ram, count, &overwrote);
  if (overwrote) {
    char text[96];
    snprintf(text, sizeof(text), "copy to 0x%05X over flash that was not erased", flash);
    Note(text);
  }
  Code(code);
}

void LpcIsp::CmdGo(const std::vector<long long>& args, const std::string& mode) {
  if (args.size() != 1 || (mode != "T" && mode != "A")) return Code(PARAM_ERROR);
  if (!unlocked_) return Code(CMD_LOCKED);
  uint32_t address = static_cast<uint32_t>(args[0]);
  if (address % 4 != 0) return Code(ADDR_ERROR);
  if (!memory_.IsFlash(address, 4) && !memory_.IsRam(address, 4)) return Code(ADDR_NOT_MAPPED);
  Code(CMD_SUCCESS);
  // The boot ROM runs user code only when the first eight vector words sum to 0.
  uint32_t sum = 0;
  const std::vector<uint8_t>& f = memory_.flash();
  for (int i = 0; i < 8; i++) {
    sum += static_cast<uint32_t>(f[i * 4]) | static_cast<uint32_t>(f[i * 4 + 1]) << 8 |
           static_cast<uint32_t>(f[i * 4 + 2]) << 16 | static_cast<uint32_t>(f[i * 4 + 3]) << 24;
  }
  char text[96];
  snprintf(text, sizeof(text), "go to 0x%08llX (%s); vector checksum %s", args[0], mode.c_str(),
           sum == 0 ? "valid" : "not valid");
  Note(text);
  state_ = State::kRunning;
}

void LpcIsp::CmdCompare(const std::vector<long long>& args) {
  if (args.size() != 3) return Code(PARAM_ERROR);
  uint32_t a = static_cast<uint32_t>(args[0]), b = static_cast<uint32_t>(args[1]);
  uint32_t count = static_cast<uint32_t>(args[2]);
  if (a % 4 != 0 || b % 4 != 0) return Code(ADDR_ERROR);
  if (count % 4 != 0) return Code(COUNT_ERROR);
  std::vector<uint8_t> x, y;
  if (!memory_.ReadBytes(a, count, &x) || !memory_.ReadBytes(b, count, &y)) return Code(ADDR_NOT_MAPPED);
  for (uint32_t i = 0; i < count; i++) {
    if (x[i] != y[i]) {
      Code(COMPARE_ERROR);
      return Send(std::to_string(i & ~3u) + "\r\n");
    }
  }
  Code(CMD_SUCCESS);
}

}  // namespace lpcsim

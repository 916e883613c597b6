// The LPC17xx boot ROM simulator as a child process, and a capture of the
// diagnostic log, for the driver tests.
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

#include "app/Log.h"
#include "tests/support/Process.h"

namespace qntest {

class LpcSim {
 public:
  explicit LpcSim(const std::vector<std::string>& args = {})
      : process_(BinaryPath("sim/lpc/lpc_isp_sim"), args) {
    std::string line = process_.WaitForLine("slave: ");
    size_t at = line.find("slave: ");
    if (at != std::string::npos) path_ = line.substr(at + 7);
    while (!path_.empty() && (path_.back() == '\n' || path_.back() == '\r')) path_.pop_back();
  }
  const std::string& path() const { return path_; }
  Background& process() { return process_; }

 private:
  Background process_;
  std::string path_;
};

// Routes Log to a temporary file with the given packages on, for one test.
class LogCapture {
 public:
  explicit LogCapture(uint32_t packages) : file_(tmpfile()) {
    Log::SetOutput(file_);
    Log::ActivatePackage(packages);
  }
  ~LogCapture() {
    Log::SetOutput(nullptr);
    Log::DeactivatePackage(0xFFFFFFFFu);
    if (file_ != nullptr) fclose(file_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() const {
    std::string out;
    if (file_ == nullptr) return out;
    fflush(file_);
    long end = ftell(file_);
    rewind(file_);
    out.resize(static_cast<size_t>(end));
    size_t got = fread(&out[0], 1, out.size(), file_);
    out.resize(got);
    fseek(file_, 0, SEEK_END);
    return out;
  }
  size_t Count(const std::string& needle) const {
    std::string text = Text();
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) n++;
    return n;
  }

 private:
  FILE* file_;
};

}  // namespace qntest

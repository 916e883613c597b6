// A capture of the diagnostic log for one test.
#pragma once

#include <stdio.h>

#include <string>

#include "app/Log.h"

namespace qntest {

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

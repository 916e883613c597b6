// Collects what the diagnostic log writes while the object lives, with the
// given packages switched on.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "app/Log.h"

namespace qntest {

class LogCapture {
 public:
  explicit LogCapture(uint32_t packages = 0xFFFFFFFFu)
      : savedFile_(Log::fh), savedMask_(Log::package_bitmask) {
    stream_ = open_memstream(&buffer_, &size_);
    Log::SetOutput(stream_);
    Log::package_bitmask = packages;
  }
  ~LogCapture() {
    Log::SetOutput(savedFile_);
    Log::package_bitmask = savedMask_;
    fclose(stream_);
    free(buffer_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() {
    fflush(stream_);
    return std::string(buffer_, size_);
  }
  bool Contains(const std::string& text) { return Text().find(text) != std::string::npos; }

 private:
  FILE* savedFile_;
  uint32_t savedMask_;
  FILE* stream_ = nullptr;
  char* buffer_ = nullptr;
  size_t size_ = 0;
};

}  // namespace qntest

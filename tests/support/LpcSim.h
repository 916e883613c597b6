// The LPC17xx boot ROM simulator (sim/lpc/lpc_isp_sim) as a child process
// for tests and benchmarks: started with the given options, its slave path
// read from the first line it prints; stopped when the object goes.
#pragma once

#include <string>
#include <vector>

#include "tests/support/Process.h"

namespace qntest {

class LpcSim {
 public:
  explicit LpcSim(const std::vector<std::string>& args = {}, const std::string& program = "")
      : process_(program.empty() ? BinaryPath("sim/lpc/lpc_isp_sim") : program, args) {
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

}  // namespace qntest

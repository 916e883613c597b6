// Starts module-sim as a child process for a benchmark and reads its
// start-up lines (the TCP port, the USB environment).
#pragma once

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace qnbench {

class SimProcess {
 public:
  // Runs `program` with the arguments; false when it does not get ready.
  bool Start(const std::string& program, const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(program.c_str()));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    FILE* in = fdopen(out[0], "r");
    char line[1024];
    while (fgets(line, sizeof line, in)) {
      std::string l(line);
      while (!l.empty() && l.back() == '\n') l.pop_back();
      lines_.push_back(l);
      if (l == "module-sim: ready") {
        fclose(in);  // the child's later output goes nowhere; it prints nothing more
        return true;
      }
    }
    fclose(in);
    return false;
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  // The rest of the first start-up line that begins with `prefix`.
  std::string After(const std::string& prefix) const {
    for (const std::string& l : lines_) {
      if (l.rfind("module-sim: " + prefix, 0) == 0) return l.substr(strlen("module-sim: ") + prefix.size());
    }
    return "";
  }

 private:
  pid_t pid_ = -1;
  std::vector<std::string> lines_;
};

// The build's module-sim next to a benchmark binary: <build>/sim/module-sim.
inline std::string ModuleSimPath(const char* argv0) {
  std::string self = argv0;
  const size_t slash = self.rfind('/');
  std::string dir = slash == std::string::npos ? "." : self.substr(0, slash);
  return dir + "/../sim/module-sim";
}

}  // namespace qnbench

// Runs a program as a child process for whole-program tests: arguments,
// extra environment, optional standard input, a bound on its run time, and
// its exit status with everything it wrote to stdout and stderr.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace qntest {

struct RunResult {
  int exitCode = -1;       // -1 when killed by a signal or timed out
  int signal = 0;          // the terminating signal, 0 if it exited
  bool timedOut = false;
  std::string out;         // standard output
  std::string err;         // standard error
};

struct RunOptions {
  std::map<std::string, std::string> env;  // added to (or replacing) the inherited environment
  std::string input;                        // written to standard input, then closed
  std::string workingDirectory;             // empty: the current one
  double timeoutSeconds = 30;               // the child is killed after this
  bool onTerminal = false;                  // stdout and stderr on a pseudo-terminal (merged into out)
};

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options = RunOptions());

// A child left running in the background (a stand-in server, for example).
// Its stdout and stderr go to files; the destructor kills it.
class Background {
 public:
  Background(const std::string& program, const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env = {});
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  // Waits until stdout holds a line containing `text`; returns that line, or
  // empty when the bound passes or the child exits first.
  std::string WaitForLine(const std::string& text, double timeoutSeconds = 10);
  std::string Stdout() const;
  std::string Stderr() const;
  // SIGTERM, then SIGKILL after a grace period; returns the exit status.
  int Stop(double graceSeconds = 5);

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string outPath_, errPath_;
};

// Path of a binary of this build: $QN_BUILD_DIR/<relative>.
std::string BinaryPath(const std::string& relative);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);

}  // namespace qntest

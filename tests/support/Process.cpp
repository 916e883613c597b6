#include "tests/support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace qntest {
namespace {

double sNow() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

std::vector<std::string> sEnvironment(const std::map<std::string, std::string>& extra) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    const char* eq = strchr(*e, '=');
    if (eq) env[std::string(*e, eq - *e)] = eq + 1;
  }
  for (const auto& kv : extra) env[kv.first] = kv.second;
  std::vector<std::string> out;
  for (const auto& kv : env) out.push_back(kv.first + "=" + kv.second);
  return out;
}

[[noreturn]] void sExec(const std::string& program, const std::vector<std::string>& args,
                        const std::vector<std::string>& env) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  execve(program.c_str(), argv.data(), envp.data());
  _exit(127);
}

void sDecodeStatus(int status, RunResult& r) {
  if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
}

}  // namespace

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options) {
  RunResult result;
  const std::vector<std::string> env = sEnvironment(options.env);
  int inPipe[2], outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
  if (pipe(inPipe) != 0) throw std::runtime_error("pipe failed");
  int master = -1;
  pid_t pid;
  if (options.onTerminal) {
    pid = forkpty(&master, nullptr, nullptr, nullptr);
  } else {
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
    pid = fork();
  }
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(inPipe[0], 0);
    if (!options.onTerminal) {
      dup2(outPipe[1], 1);
      dup2(errPipe[1], 2);
    }
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
      _exit(126);
    sExec(program, args, env);
  }
  close(inPipe[0]);
  if (!options.input.empty()) {
    ssize_t ignored = write(inPipe[1], options.input.data(), options.input.size());
    (void)ignored;
  }
  close(inPipe[1]);

  int fds[2];
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 0;
  if (options.onTerminal) {
    fds[0] = master;
    fds[1] = -1;
    open = 1;
  } else {
    close(outPipe[1]);
    close(errPipe[1]);
    fds[0] = outPipe[0];
    fds[1] = errPipe[0];
    open = 2;
  }

  const double deadline = sNow() + options.timeoutSeconds;
  while (open > 0) {
    double left = deadline - sNow();
    if (left <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd p[2];
    int n = 0, map[2];
    for (int i = 0; i < 2; ++i)
      if (fds[i] >= 0) {
        p[n] = {fds[i], POLLIN, 0};
        map[n++] = i;
      }
    int ready = poll(p, n, int(left * 1000) + 1);
    if (ready < 0) continue;
    for (int k = 0; k < n; ++k) {
      if (!(p[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      ssize_t got = read(p[k].fd, buf, sizeof buf);
      if (got > 0) {
        sinks[map[k]]->append(buf, size_t(got));
      } else {
        close(fds[map[k]]);
        fds[map[k]] = -1;
        --open;
      }
    }
  }
  for (int fd : fds)
    if (fd >= 0) close(fd);
  int status = 0;
  waitpid(pid, &status, 0);
  sDecodeStatus(status, result);
  if (result.timedOut) result.exitCode = -1;
  return result;
}

Background::Background(const std::string& program, const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& env) {
  char pattern[] = "/tmp/qn-bg-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  outPath_ = std::string(pattern) + "/stdout";
  errPath_ = std::string(pattern) + "/stderr";
  const std::vector<std::string> envList = sEnvironment(env);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int null = ::open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    sExec(program, args, envList);
  }
}

Background::~Background() {
  Stop(2);
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::path(outPath_).parent_path(), ec);
}

bool Background::running() {
  if (pid_ <= 0) return false;
  int status;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    status_ = status;
    pid_ = -1;
    return false;
  }
  return true;
}

std::string Background::WaitForLine(const std::string& text, double timeoutSeconds) {
  const double deadline = sNow() + timeoutSeconds;
  for (;;) {
    std::istringstream lines(Stdout());
    std::string line;
    while (std::getline(lines, line))
      if (line.find(text) != std::string::npos) return line;
    if (!running() || sNow() > deadline) return "";
    usleep(20000);
  }
}

std::string Background::Stdout() const { return ReadFile(outPath_); }
std::string Background::Stderr() const { return ReadFile(errPath_); }

int Background::Stop(double graceSeconds) {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    const double deadline = sNow() + graceSeconds;
    while (running() && sNow() < deadline) usleep(10000);
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
      pid_ = -1;
    }
  }
  if (status_ == -1) return -1;
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

std::string BinaryPath(const std::string& relative) {
  const char* dir = getenv("QN_BUILD_DIR");
  return std::string(dir ? dir : ".") + "/" + relative;
}

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/qn-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

}  // namespace qntest

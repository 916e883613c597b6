// Captures what the code under test writes to standard output, with standard
// output on a pseudo-terminal (isatty true) or on a pipe (isatty false).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdio.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace qntest {

inline std::string sDrain(int fd) {
  std::string out;
  char buf[4096];
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, 50) > 0) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, size_t(n));
  }
  return out;
}

inline std::string CaptureStdout(bool onTerminal, const std::function<void()>& body) {
  fflush(stdout);
  int readEnd = -1, writeEnd = -1;
  if (onTerminal) {
    termios raw{};
    cfmakeraw(&raw);  // no newline translation, no echo
    if (openpty(&readEnd, &writeEnd, nullptr, &raw, nullptr) != 0) return "<openpty failed>";
  } else {
    int fds[2];
    if (pipe(fds) != 0) return "<pipe failed>";
    readEnd = fds[0];
    writeEnd = fds[1];
  }
  int saved = dup(1);
  dup2(writeEnd, 1);
  body();
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(writeEnd);
  std::string out = sDrain(readEnd);
  close(readEnd);
  return out;
}

}  // namespace qntest

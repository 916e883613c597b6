// A boot ROM whose replies trail the time their length needs on the line
// (a loaded host, a USB serial adapter holding bytes back) still syncs.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "recovery/NXPSerialClass.h"

namespace {

// Reads from the master side until `terminator` has arrived.
bool ReadUntil(int fd, const std::string& terminator) {
  std::string got;
  char c;
  pollfd p{fd, POLLIN, 0};
  while (got.find(terminator) == std::string::npos) {
    if (poll(&p, 1, 3000) <= 0 || read(fd, &c, 1) != 1) return false;
    got += c;
  }
  return true;
}

void Answer(int fd, const std::string& text, int delayMs) {
  usleep(delayMs * 1000);
  ssize_t n = write(fd, text.data(), text.size());
  (void)n;
}

TEST(NXPSerialLateReply, SyncToleratesRepliesThatComeLate) {
  int master = -1, slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  termios raw{};
  tcgetattr(master, &raw);
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);

  // Each reply comes 80 ms after its question: well past the wait that the
  // reply's length needs at 115200 baud.
  std::thread rom([&] {
    if (!ReadUntil(master, "?")) return;
    Answer(master, "Synchronized\r\n", 80);
    if (!ReadUntil(master, "Synchronized\r\n")) return;
    Answer(master, "Synchronized\r\nOK\r\n", 80);
    if (!ReadUntil(master, "\r\n")) return;
    Answer(master, "14746\r\nOK\r\n", 80);
  });

  NXPSerialClass nxp;
  ASSERT_EQ(nxp.Connect(name, 115200), tErrNone);
  EXPECT_EQ(nxp.Sync(), tErrNone);
  rom.join();
  nxp.Disconnect();
  close(slave);
  close(master);
}

TEST(NXPSerialLateReply, SilentChipStillFailsWithinBounds) {
  int master = -1, slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  NXPSerialClass nxp;
  ASSERT_EQ(nxp.Connect(name, 115200), tErrNone);
  auto start = std::chrono::steady_clock::now();
  EXPECT_NE(nxp.Sync(), tErrNone);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  nxp.Disconnect();
  close(slave);
  close(master);
}

}  // namespace

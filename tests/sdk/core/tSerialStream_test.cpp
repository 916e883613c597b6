#include "sdk/core/tSerialStream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sdk/core/tTime.h"
#include "tests/support/Process.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A pseudo-terminal pair; the slave side starts in the usual cooked mode so
// that the stream's own settings can be told apart from it.
class Pty {
 public:
  Pty() {
    char name[256];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
    path_ = name;
    termios t;
    tcgetattr(slave_, &t);
    t.c_lflag |= ECHO | ICANON | ISIG;
    t.c_oflag |= OPOST;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(slave_, TCSANOW, &t);
  }
  ~Pty() {
    CloseMaster();
    if (slave_ >= 0) close(slave_);
  }
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }
  const std::string& path() const { return path_; }
  int master() const { return master_; }
  termios Settings() const {
    termios t;
    tcgetattr(slave_, &t);
    return t;
  }
  Bytes Read(size_t n, int timeoutMs = 3000) {
    Bytes out;
    uint64_t end = tTime_GetMonotonicMSTicks() + timeoutMs;
    while (out.size() < n && tTime_GetMonotonicMSTicks() < end) {
      pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, 50) != 1) continue;
      uint8_t buffer[64];
      ssize_t got = read(master_, buffer, std::min(sizeof(buffer), n - out.size()));
      if (got <= 0) break;
      out.insert(out.end(), buffer, buffer + got);
    }
    return out;
  }
  void Write(const Bytes& b) { ASSERT_EQ(write(master_, b.data(), b.size()), static_cast<ssize_t>(b.size())); }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// Reads n bytes, waiting on the stream between tries.
Bytes ReadWaiting(tStream* s, size_t n) {
  Bytes out;
  for (int tries = 0; out.size() < n && tries < 200; tries++) {
    uint8_t b;
    tErr err = tStream_Read(s, &b, 1);
    if (err == tErrNone) {
      out.push_back(b);
    } else {
      tStream_Wait(s, 20);
    }
  }
  return out;
}

TEST(SerialStream, AppliesRaw8N1AtTheIndexedSpeedAndRestoresOnDelete) {
  Pty pty;
  ASSERT_FALSE(pty.path().empty());
  termios before = pty.Settings();
  tStream* s = nullptr;
  ASSERT_EQ(tStream_CreateSerial(pty.path().c_str(), 6, false, 0, 0, &s), tErrNone);
  termios t = pty.Settings();
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_NE(t.c_cflag & CLOCAL, 0u);
  EXPECT_NE(t.c_cflag & CREAD, 0u);
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(IGNBRK));
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  ASSERT_EQ(tStream_Destroy(&s), tErrNone);
  termios after = pty.Settings();
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
  EXPECT_EQ(memcmp(after.c_cc, before.c_cc, sizeof(before.c_cc)), 0);
}

struct SettingsCase {
  const char* name;
  int baudIndex;
  bool parity;
  int dataBits;
  int stopBits;
  speed_t speed;
  tcflag_t cflags;  // of CSTOPB (a pseudo-terminal always keeps 8 bits, no parity)
  tcflag_t iflags;
};

void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }

class SerialSettings : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(SerialSettings, FollowTheArguments) {
  const SettingsCase& c = GetParam();
  Pty pty;
  tStream* s = nullptr;
  ASSERT_EQ(tStream_CreateSerial(pty.path().c_str(), c.baudIndex, c.parity, c.dataBits, c.stopBits, &s), tErrNone);
  termios t = pty.Settings();
  EXPECT_EQ(cfgetospeed(&t), c.speed);
  EXPECT_EQ(t.c_cflag & CSTOPB, c.cflags);
  EXPECT_EQ(t.c_iflag, c.iflags);
  tStream_Destroy(&s);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SerialSettings,
    ::testing::Values(SettingsCase{"Slowest", 0, false, 0, 0, B2400, 0, IGNBRK},
                      SettingsCase{"Fastest", 7, false, 0, 0, B230400, 0, IGNBRK},
                      SettingsCase{"ParityTwoStopBits", 2, true, 1, 1, B9600, CSTOPB, IGNBRK | IGNPAR}),
    [](const ::testing::TestParamInfo<SettingsCase>& info) { return info.param.name; });

TEST(SerialStream, CreationFailures) {
  tStream* s = nullptr;
  EXPECT_EQ(tStream_CreateSerial("/nonexistent/tty-q", 6, false, 0, 0, &s), tErrNotFound);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(tStream_CreateSerial(nullptr, 6, false, 0, 0, &s), tErrResource);
  EXPECT_EQ(tStream_CreateSerial("/dev/null", 6, false, 0, 0, nullptr), tErrResource);
  EXPECT_EQ(tStream_CreateSerial("/dev/null", 6, false, 2, 0, &s), tErrResource);
  EXPECT_EQ(tStream_CreateSerial("/dev/null", 6, false, 0, 2, &s), tErrResource);
  EXPECT_EQ(tStream_CreateSerial("/dev/null", 8, false, 0, 0, &s), tErrResource);
  EXPECT_EQ(tStream_CreateSerial("/dev/null", 6, false, 0, 0, &s), tErrIO);  // not a terminal
  EXPECT_EQ(tStream_CreateSerial_Packetized("/dev/null", 6, false, 2, 0, &s), tErrParam);
  EXPECT_EQ(tStream_CreateSerial_Packetized(nullptr, 6, false, 0, 0, &s), tErrParam);
  EXPECT_EQ(tStream_CreateSerial_Packetized("/nonexistent/tty-q", 6, false, 0, 0, &s), tErrNotFound);
  EXPECT_EQ(s, nullptr);
}

// A path too long for the stream is refused whole, never cut short: here
// its first 4095 characters name a real terminal.
TEST(SerialStream, APathTooLongIsRefusedNotTruncated) {
  Pty pty;
  ASSERT_FALSE(pty.path().empty());
  std::string path = std::string(tSERIAL_PATH_MAX - 1 - pty.path().size(), '/') + pty.path();
  ASSERT_EQ(path.size(), static_cast<size_t>(tSERIAL_PATH_MAX - 1));
  tStream* s = nullptr;
  ASSERT_EQ(tStream_CreateSerial(path.c_str(), 6, false, 0, 0, &s), tErrNone);  // the longest that fits
  tStream_Destroy(&s);
  path += "-not-this-one";
  EXPECT_EQ(tStream_CreateSerial(path.c_str(), 6, false, 0, 0, &s), tErrResource);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(tStream_CreateSerial_Packetized(path.c_str(), 6, false, 0, 0, &s), tErrParam);
  EXPECT_EQ(s, nullptr);
}

// A device the user may not open. Root opens everything, so as root the
// open runs in a child that has given its privileges away.
TEST(SerialStream, NoPermissionIsReported) {
  qntest::TempDir dir;
  chmod(dir.path().c_str(), 0755);
  std::string path = dir / "tty";
  qntest::WriteFile(path, "");
  chmod(path.c_str(), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
    tStream* s = nullptr;
    _exit(static_cast<int>(tStream_CreateSerial(path.c_str(), 6, false, 0, 0, &s)));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(tErrPermission));
}

TEST(SerialStream, BytesFlowAndAnIdleGetReturnsAtOnce) {
  Pty pty;
  tStream* s = nullptr;
  ASSERT_EQ(tStream_CreateSerial(pty.path().c_str(), 6, false, 0, 0, &s), tErrNone);
  uint8_t b;
  uint64_t start = tTime_GetMonotonicMSTicks();
  EXPECT_EQ(tStream_Read(s, &b, 1), tErrNotReady);
  EXPECT_LT(tTime_GetMonotonicMSTicks() - start, 500u);
  EXPECT_EQ(tStream_Wait(s, 30), tErrTimeout);

  const Bytes out = {'?', 0x00, 0xFF, '\r', '\n'};  // raw: nothing is translated
  ASSERT_EQ(tStream_Write(s, out.data(), static_cast<uint32_t>(out.size())), tErrNone);
  EXPECT_EQ(pty.Read(out.size()), out);
  const Bytes in = {'O', 'K', '\r', '\n', 0x03};
  pty.Write(in);
  EXPECT_EQ(tStream_Wait(s, 3000), tErrNone);
  EXPECT_EQ(ReadWaiting(s, in.size()), in);
  tStream_Destroy(&s);
}

// A hung-up line reads nothing for ever; a reader that waits before every
// get must sleep through the waits instead of spinning.
void ExpectIdleWithoutSpinning(tStream* s) {
  int rounds = 0;
  uint64_t end = tTime_GetMonotonicMSTicks() + 200;
  while (tTime_GetMonotonicMSTicks() < end) {
    tStream_Wait(s, 50);
    uint8_t b;
    EXPECT_EQ(tStream_Read(s, &b, 1), tErrNotReady);
    rounds++;
  }
  EXPECT_LT(rounds, 20);
}

TEST(SerialStream, AHungUpLineLooksIdleAndTheWaitSleeps) {
  Pty pty;
  tStream* s = nullptr;
  ASSERT_EQ(tStream_CreateSerial(pty.path().c_str(), 6, false, 0, 0, &s), tErrNone);
  pty.CloseMaster();
  ExpectIdleWithoutSpinning(s);
  tStream_Destroy(&s);
}

TEST(SerialStream, PacketizedFramesPacketsOnTheLine) {
  Pty pty;
  tStream* s = nullptr;
  ASSERT_EQ(tStream_CreateSerial_Packetized(pty.path().c_str(), 6, false, 0, 0, &s), tErrNone);
  const Bytes packet = {0x06, 0x00};
  ASSERT_EQ(tStream_Write(s, packet.data(), 2), tErrNone);
  EXPECT_EQ(pty.Read(5), Bytes({0x02, 0x06, 0x02, 0xAA, 0x00}));
  pty.Write({0x00, 0x02, 0x06, 0x02, 0xAA, 0x00});
  EXPECT_EQ(ReadWaiting(s, 2), packet);
  tStream_Destroy(&s);
}

TEST(SerialStream, PacketizedOnAHungUpLineIdlesWithoutSpinning) {
  Pty pty;
  tStream* s = nullptr;
  ASSERT_EQ(tStream_CreateSerial_Packetized(pty.path().c_str(), 6, false, 0, 0, &s), tErrNone);
  pty.CloseMaster();
  ExpectIdleWithoutSpinning(s);
  tStream_Destroy(&s);
}

TEST(SerialBaud, TableBothWays) {
  const uint32_t rates[8] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
  for (int i = 0; i < 8; i++) {
    EXPECT_EQ(tSerial_BaudIndex(rates[i]), i);
    EXPECT_EQ(tSerial_BaudRate(i), rates[i]);
  }
  EXPECT_EQ(tSerial_BaudIndex(14400), -1);
  EXPECT_EQ(tSerial_BaudRate(8), 0u);
  EXPECT_EQ(tSerial_BaudRate(-1), 0u);
}

}  // namespace

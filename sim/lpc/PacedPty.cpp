#include "sim/lpc/PacedPty.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

namespace lpcsim {

namespace {

int64_t NowNs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

const int64_t kIdleNs = 200 * 1000000LL;

}  // namespace

PacedPty::~PacedPty() {
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
}

bool PacedPty::Open() {
  char name[256];
  struct termios raw;
  cfmakeraw(&raw);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) return false;
  slavePath_ = name;
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  return true;
}

int64_t PacedPty::ByteNs() const {
  if (!paced_ || baud_ == 0) return 0;
  return 10LL * 1000000000LL / baud_;
}

void PacedPty::ReadHost(int64_t now) {
  uint8_t buffer[4096];
  for (;;) {
    ssize_t n = read(master_, buffer, sizeof(buffer));
    if (n <= 0) return;
    for (ssize_t i = 0; i < n; i++) {
      rxLineFree_ = std::max(rxLineFree_, now) + ByteNs();
      rx_.push_back({rxLineFree_, buffer[i]});
    }
  }
}

void PacedPty::DeliverDue(LineDevice* device, int64_t now) {
  while (!rx_.empty() && rx_.front().at <= now) {
    device->Receive(rx_.front().byte);
    rx_.pop_front();
    std::string out = device->TakeOutput();
    if (!out.empty()) {
      if (tx_.empty()) txNext_ = std::max(txFree_, now) + ByteNs();
      tx_ += out;
    }
    uint32_t baud;
    if (device->TakeBaudChange(&baud)) pendingBaud_ = baud;
  }
}

void PacedPty::SendDue(int64_t now) {
  if (tx_.empty()) return;
  size_t due = tx_.size();
  int64_t byteNs = ByteNs();
  if (byteNs > 0) {
    if (txNext_ > now) return;
    due = std::min(tx_.size(), static_cast<size_t>((now - txNext_) / byteNs + 1));
  }
  ssize_t n = write(master_, tx_.data(), due);
  if (n <= 0) {
    txBlocked_ = n < 0 && errno == EAGAIN;
    if (txBlocked_) txNext_ = now + byteNs;
    return;
  }
  txBlocked_ = static_cast<size_t>(n) < due;
  tx_.erase(0, static_cast<size_t>(n));
  txFree_ = txNext_ + (static_cast<int64_t>(n) - 1) * byteNs;
  txNext_ = txFree_ + byteNs;
  if (txBlocked_) txNext_ = now + byteNs;
}

void PacedPty::Run(LineDevice* device, volatile sig_atomic_t* stop) {
  while (!*stop) {
    int64_t now = NowNs();
    int64_t wake = now + kIdleNs;
    if (!rx_.empty()) wake = std::min(wake, rx_.front().at);
    if (!tx_.empty() && !txBlocked_) wake = std::min(wake, txNext_);
    int64_t wait = std::max<int64_t>(0, wake - now);
    struct timespec ts = {static_cast<time_t>(wait / 1000000000LL), static_cast<long>(wait % 1000000000LL)};
    struct pollfd p = {master_, static_cast<short>(POLLIN | (txBlocked_ ? POLLOUT : 0)), 0};
    int rc = ppoll(&p, 1, &ts, nullptr);
    now = NowNs();
    if (rc > 0 && (p.revents & POLLOUT)) txBlocked_ = false;
    if (rc > 0 && (p.revents & POLLIN)) ReadHost(now);
    DeliverDue(device, now);
    SendDue(now);
    if (tx_.empty() && pendingBaud_ != 0) {
      baud_ = pendingBaud_;
      pendingBaud_ = 0;
    }
  }
}

}  // namespace lpcsim

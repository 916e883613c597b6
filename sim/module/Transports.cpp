#include "sim/module/Transports.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <string.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "sdk/core/tCobs.h"
#include "sdk/core/tCrc8.h"
#include "sim/vusb/FdPump.h"
#include "sim/vusb/RawPty.h"

namespace qnsim {

namespace {

void sWriteAll(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = write(fd, data, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        struct pollfd p = {fd, POLLOUT, 0};
        poll(&p, 1, 100);
        continue;
      }
      return;
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
}

void sClose(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

}  // namespace

// --- TCP --------------------------------------------------------------------

TcpTransport::TcpTransport(Module* attached, std::vector<Module*> behind)
    : attached_(attached), behind_(std::move(behind)) {}

TcpTransport::~TcpTransport() { Stop(); }

bool TcpTransport::Start(const std::string& bindAddress, uint16_t port, std::string* error) {
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in a;
  memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (inet_pton(AF_INET, bindAddress.c_str(), &a.sin_addr) != 1) {
    if (error) *error = "bad bind address " + bindAddress;
    return false;
  }
  if (bind(listen_, reinterpret_cast<struct sockaddr*>(&a), sizeof a) != 0 || listen(listen_, 8) != 0) {
    if (error) *error = std::string("listen: ") + strerror(errno);
    return false;
  }
  socklen_t len = sizeof a;
  getsockname(listen_, reinterpret_cast<struct sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  if (pipe2(wake_, O_CLOEXEC) != 0) {
    if (error) *error = std::string("pipe: ") + strerror(errno);
    return false;
  }
  running_ = true;
  acceptor_ = std::thread(&TcpTransport::AcceptLoop, this);
  return true;
}

void TcpTransport::Stop() {
  if (running_.exchange(false)) {
    char c = 0;
    (void)!write(wake_[1], &c, 1);
    acceptor_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    for (Connection& c : connections_) {
      shutdown(c.fd, SHUT_RDWR);
      c.thread.join();
      sClose(&c.fd);
    }
    connections_.clear();
  }
  sClose(&listen_);
  sClose(&wake_[0]);
  sClose(&wake_[1]);
}

void TcpTransport::Tick() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Connection& c : connections_) {
    if (!c.done) c.endpoint->Tick();
  }
}

void TcpTransport::AcceptLoop() {
  while (running_) {
    struct pollfd fds[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::lock_guard<std::mutex> lock(mutex_);
    // Finished connections go before a new one comes in.
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (it->done) {
        it->thread.join();
        sClose(&it->fd);
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
    connections_.emplace_back();
    Connection* c = &connections_.back();
    c->fd = fd;
    c->endpoint = std::make_unique<Endpoint>(attached_, behind_, [fd](const std::vector<uint8_t>& bytes) {
      sWriteAll(fd, bytes.data(), bytes.size());
    });
    c->thread = std::thread(&TcpTransport::Serve, this, c);
  }
}

void TcpTransport::Serve(Connection* c) {
  uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = recv(c->fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    c->endpoint->FromHost(buffer, static_cast<size_t>(n));
  }
  c->done = true;
}

// --- Pseudo-terminal with COBS framing --------------------------------------

PtyTransport::PtyTransport(Module* attached, std::vector<Module*> behind)
    : attached_(attached), behind_(std::move(behind)) {}

PtyTransport::~PtyTransport() { Stop(); }

bool PtyTransport::Start(std::string* error) {
  // Writes to the line never block for good (see Send).
  if (!OpenRawPty(&master_, &slave_, &path_, -1, error)) return false;
  if (pipe2(wake_, O_CLOEXEC) != 0) {
    if (error) *error = std::string("pipe: ") + strerror(errno);
    return false;
  }
  endpoint_ = std::make_unique<Endpoint>(attached_, behind_,
                                         [this](const std::vector<uint8_t>& bytes) { Send(bytes); });
  running_ = true;
  thread_ = std::thread(&PtyTransport::Run, this);
  return true;
}

void PtyTransport::Stop() {
  if (running_.exchange(false)) {
    char c = 0;
    (void)!write(wake_[1], &c, 1);
    thread_.join();
  }
  for (int* fd : {&master_, &slave_, &wake_[0], &wake_[1]}) sClose(fd);
}

void PtyTransport::Send(const std::vector<uint8_t>& packetBytes) {
  // body = the packet and its CRC-8; the line carries it COBS-encoded and
  // ended by a zero byte.
  std::vector<uint8_t> body = packetBytes;
  body.push_back(crc8_create(packetBytes.data(), packetBytes.size()));
  std::vector<uint8_t> line(COBS_ENCODED_MAX(body.size()) + 1);
  const size_t n = cobs_encode(body.data(), body.size(), line.data());
  line[n] = 0;
  // A host that reads slowly gets a moment to make room; what a host that
  // does not read at all leaves no room for is lost, as a line's bytes are
  // when nobody takes them. Once the transport stops nothing waits.
  const uint8_t* at = line.data();
  size_t left = n + 1;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (left > 0 && running_) {
    const ssize_t w = write(master_, at, left);
    if (w > 0) {
      at += w;
      left -= static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if ((w < 0 && errno != EAGAIN) || std::chrono::steady_clock::now() >= giveUp) return;
    struct pollfd p = {master_, POLLOUT, 0};
    poll(&p, 1, 20);
  }
}

void PtyTransport::Frame(const std::vector<uint8_t>& encoded) {
  std::vector<uint8_t> decoded(encoded.size() + 1);
  const size_t n = cobs_decode(encoded.data(), encoded.size(), decoded.data());
  // address, length, payload, CRC
  if (n < 3 || decoded[1] + 3u != n || !crc8_check(decoded.data(), n - 1, decoded[n - 1])) {
    badFrames_++;
    return;
  }
  qnsim::Frame f(decoded[0], std::vector<uint8_t>(decoded.begin() + 2, decoded.begin() + static_cast<std::ptrdiff_t>(n - 1)));
  endpoint_->FromHostPacket(f);
}

void PtyTransport::Run() {
  std::vector<uint8_t> encoded;
  PumpUntilWoken(master_, wake_[0], [&](const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; i++) {
      if (data[i] != 0) {
        if (encoded.size() < 64) encoded.push_back(data[i]);  // an over-long frame fails its checks
        continue;
      }
      if (!encoded.empty()) Frame(encoded);
      encoded.clear();
    }
  });
}

// --- USB --------------------------------------------------------------------

UsbLink::UsbLink(Module* attached, std::vector<Module*> behind)
    : endpoint_(attached, std::move(behind), [this](const std::vector<uint8_t>& bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (toHost_) toHost_(bytes.data(), bytes.size());
      }) {}

}  // namespace qnsim

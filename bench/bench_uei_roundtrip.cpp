// Benchmark: the round trip of a UEI get (the serial number) through the link
// engine to the TCP module simulator, against a bare socket request and reply
// to the same simulator, run side by side. Goal: a ratio under 2.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "sdk/api/tUEI.h"
#include "sdk/core/tLink.h"
#include "tests/support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
using Owned = std::unique_ptr<tPacket, tPacketDeleter>;
constexpr uint32_t sSerial = 0x40F5849A;
constexpr int sRounds = 2000;
constexpr int sWarmup = 100;
const uint8_t sRequest[5] = {2, 3, cmdSYSTEM, 9 | UEI_OPT_GET, UEI_IDX_REQUEST};

uint8_t sSerialReply(const tPacket* p, const void*) {
  return p->length == 7 && p->data[0] == cmdSYSTEM && p->data[1] == 9;
}

// Microseconds per round trip through the engine.
double sEngine(uint16_t port) {
  int id = tLink_CreateTCPIP(sSerial, htonl(INADDR_LOOPBACK), port);
  if (id == 0) return -1;
  Owned request(tPacket_CreateWithData(2, 3, sRequest + 2));
  auto once = [&]() {
    tLink_PutPacket(id, request.get());
    Owned reply(tLink_AwaitFirst(id, sSerialReply, nullptr, 1000));
    return reply && tUEI_RetrieveInt(reply->data + 3) == sSerial;
  };
  for (int i = 0; i < sWarmup; i++) once();
  const Clock::time_point t0 = Clock::now();
  int ok = 0;
  for (int i = 0; i < sRounds; i++) ok += once();
  const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / sRounds;
  tLink_Destroy(&id);
  return ok == sRounds ? us : -1;
}

// Microseconds per round trip on a bare socket: the same request bytes, the
// 9 reply bytes read back.
double sBare(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in a;
  memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<struct sockaddr*>(&a), sizeof a) != 0) return -1;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  auto once = [&]() {
    if (send(fd, sRequest, sizeof sRequest, 0) != static_cast<ssize_t>(sizeof sRequest)) return false;
    uint8_t reply[9];
    size_t got = 0;
    while (got < sizeof reply) {
      const ssize_t n = recv(fd, reply + got, sizeof reply - got, 0);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    return tUEI_RetrieveInt(reply + 5) == sSerial;
  };
  for (int i = 0; i < sWarmup; i++) once();
  const Clock::time_point t0 = Clock::now();
  int ok = 0;
  for (int i = 0; i < sRounds; i++) ok += once();
  const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / sRounds;
  close(fd);
  return ok == sRounds ? us : -1;
}

}  // namespace

int main() {
  qntest::Background sim(QN_MODULE_SIM, {"--module", "serial=40F5849A,tcp"});
  const std::string line = sim.WaitForLine("module-sim: 40F5849A tcp 127.0.0.1 ");
  if (line.empty() || sim.WaitForLine("module-sim: ready").empty()) {
    fprintf(stderr, "bench_uei_roundtrip: module-sim did not start\n");
    return 1;
  }
  const uint16_t port = static_cast<uint16_t>(atoi(line.c_str() + line.rfind(' ') + 1));
  // Side by side: alternate the two a few times and keep each one's best.
  double engine = 1e9, bare = 1e9;
  for (int pass = 0; pass < 3; pass++) {
    const double e = sEngine(port), b = sBare(port);
    if (e < 0 || b < 0) {
      fprintf(stderr, "bench_uei_roundtrip: a round trip failed\n");
      return 1;
    }
    engine = std::min(engine, e);
    bare = std::min(bare, b);
  }
  const double ratio = engine / bare;
  printf("UEI get round trip over TCP (%d rounds, best of 3): link engine %.1f us, bare socket %.1f us, "
         "ratio %.2f; goal under 2: %s\n",
         sRounds, engine, bare, ratio, ratio < 2.0 ? "met" : "MISSED");
  return 0;  // a figure, not a test: only a failed measurement fails
}

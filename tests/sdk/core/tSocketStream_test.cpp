#include "sdk/core/tSocketStream.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sdk/core/tTime.h"

namespace {

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

// A TCP listener on a loopback port the system chose. With a backlog of 0
// it has room for one waiting connection; once Fill() has taken that room,
// the system drops every further attempt unanswered: a connect to it is
// neither made nor refused.
class Listener {
 public:
  explicit Listener(int backlog = 8) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = kLoopback;
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    listen(fd_, backlog);
    socklen_t n = sizeof(a);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
  }
  ~Listener() {
    Close();
    if (filler_ >= 0) close(filler_);
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  bool Fill() {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = kLoopback;
    a.sin_port = htons(port_);
    filler_ = socket(AF_INET, SOCK_STREAM, 0);
    return connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
  }
  uint16_t port() const { return port_; }
  // Accepts one connection within the bound, or -1.
  int Accept(int timeoutMs = 5000) {
    pollfd p = {fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1) return -1;
    return accept(fd_, nullptr, nullptr);
  }

 private:
  int fd_ = -1;
  int filler_ = -1;
  uint16_t port_ = 0;
};

void ResetConnection(int fd) {
  linger l = {1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
  close(fd);
}

// Reads exactly n bytes within the bound.
std::string ReadExactly(int fd, size_t n, int timeoutMs = 5000) {
  std::string out;
  uint64_t end = tTime_GetMonotonicMSTicks() + timeoutMs;
  while (out.size() < n && tTime_GetMonotonicMSTicks() < end) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 50) != 1) continue;
    char buffer[256];
    ssize_t got = recv(fd, buffer, std::min(sizeof(buffer), n - out.size()), 0);
    if (got <= 0) break;
    out.append(buffer, got);
  }
  return out;
}

// Rounds of wait-then-get a reader makes in `ms` on a stream with nothing to
// give; every get must find nothing (or, with mayBeGone, a connection that
// is gone).
int IdleRounds(tStream* s, int ms, bool mayBeGone = false) {
  int rounds = 0;
  uint8_t b;
  const uint64_t end = tTime_GetMonotonicMSTicks() + ms;
  while (tTime_GetMonotonicMSTicks() < end) {
    tStream_Wait(s, 50);
    const tErr err = tStream_Read(s, &b, 1);
    EXPECT_TRUE(err == tErrNotReady || (mayBeGone && err == tErrConnection)) << err;
    rounds++;
  }
  return rounds;
}

// A stream connected to `listener` whose first connection the peer has
// reset, with the reset already arrived; null when the setup failed.
tStream* StreamWithAResetPeer(Listener& listener) {
  tStream* s = nullptr;
  if (tStream_CreateSocket(kLoopback, listener.port(), &s) != tErrNone) return nullptr;
  int first = listener.Accept();
  if (first < 0) {
    tStream_Destroy(&s);
    return nullptr;
  }
  ResetConnection(first);
  tTime_MSSleep(50);  // let the reset arrive
  return s;
}

double SecondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

TEST(SocketStream, NoListenerFailsWithResource) {
  uint16_t port;
  {
    Listener gone;
    port = gone.port();
  }
  tStream* s = reinterpret_cast<tStream*>(0x1);
  EXPECT_EQ(tStream_CreateSocket(kLoopback, port, &s), tErrResource);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(tStream_CreateSocket(kLoopback, port, nullptr), tErrParam);
}

// Without a bound the attempt waits for the system's retries (minutes).
TEST(SocketStream, AConnectionThatIsNeverAnsweredFailsWithinTheBound) {
  Listener listener(0);
  ASSERT_TRUE(listener.Fill());
  tStream* s = nullptr;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(tStream_CreateSocket(kLoopback, listener.port(), &s), tErrResource);
  EXPECT_EQ(s, nullptr);
  EXPECT_LT(SecondsSince(t0), 30.0);
}

TEST(SocketStream, IdleGetReturnsAtOnceAndBytesFlowBothWays) {
  Listener listener;
  tStream* s = nullptr;
  ASSERT_EQ(tStream_CreateSocket(kLoopback, listener.port(), &s), tErrNone);
  int peer = listener.Accept();
  ASSERT_GE(peer, 0);

  uint8_t b = 0;
  uint64_t start = tTime_GetMonotonicMSTicks();
  EXPECT_EQ(tStream_Read(s, &b, 1), tErrNotReady);
  EXPECT_LT(tTime_GetMonotonicMSTicks() - start, 500u);  // generous: it must not block

  const uint8_t hello[5] = {'h', 'e', 'l', 'l', 'o'};
  ASSERT_EQ(tStream_Write(s, hello, 5), tErrNone);
  EXPECT_EQ(ReadExactly(peer, 5), "hello");

  ASSERT_EQ(send(peer, "xyz", 3, 0), 3);
  ASSERT_EQ(tStream_Wait(s, 5000), tErrNone);
  uint8_t got[3];
  tErr err = tErrNotReady;
  for (int i = 0; i < 100 && err == tErrNotReady; i++) {
    err = tStream_Read(s, got, 3);
    if (err == tErrNotReady) tStream_Wait(s, 50);
  }
  ASSERT_EQ(err, tErrNone);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 3), "xyz");

  EXPECT_EQ(tStream_Wait(s, 30), tErrTimeout);
  close(peer);
  EXPECT_EQ(tStream_Destroy(&s), tErrNone);
}

TEST(SocketStream, WriteAfterAPeerResetReconnectsAndDelivers) {
  Listener listener;
  tStream* s = StreamWithAResetPeer(listener);
  ASSERT_NE(s, nullptr);

  const uint8_t data[4] = {'d', 'a', 't', 'a'};
  std::atomic<tErr> result{tErrUnknown};
  std::thread writer([&] { result = tStream_Write(s, data, 4); });
  int second = listener.Accept();
  writer.join();
  ASSERT_GE(second, 0);
  EXPECT_EQ(result.load(), tErrNone);
  EXPECT_EQ(ReadExactly(second, 4), "data");
  close(second);
  tStream_Destroy(&s);
}

TEST(SocketStream, GetAfterAPeerResetReconnects) {
  Listener listener;
  tStream* s = StreamWithAResetPeer(listener);
  ASSERT_NE(s, nullptr);
  uint8_t b;
  std::atomic<tErr> result{tErrUnknown};
  std::thread reader([&] { result = tStream_Read(s, &b, 1); });
  int second = listener.Accept();
  reader.join();
  ASSERT_GE(second, 0);
  EXPECT_EQ(result.load(), tErrNotReady);
  ASSERT_EQ(send(second, "k", 1, 0), 1);
  tErr err = tErrNotReady;
  for (int i = 0; i < 100 && err == tErrNotReady; i++) {
    tStream_Wait(s, 50);
    err = tStream_Read(s, &b, 1);
  }
  EXPECT_EQ(err, tErrNone);
  EXPECT_EQ(b, 'k');
  close(second);
  tStream_Destroy(&s);
}

TEST(SocketStream, FailedReconnectLeavesTheStreamDisconnected) {
  // The peer resets the connection, and the reconnect finds the listener
  // gone (refused at once) or full (never answered: only the bound ends it).
  for (const bool gone : {true, false}) {
    SCOPED_TRACE(gone ? "listener gone" : "listener never answers");
    Listener listener(gone ? 8 : 0);
    tStream* s = nullptr;
    ASSERT_EQ(tStream_CreateSocket(kLoopback, listener.port(), &s), tErrNone);
    int first = listener.Accept();
    ASSERT_GE(first, 0);
    if (gone) {
      listener.Close();
    } else {
      ASSERT_TRUE(listener.Fill());
    }
    ResetConnection(first);
    tTime_MSSleep(50);
    const uint8_t data[2] = {1, 2};
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(tStream_Write(s, data, 2), tErrConnection);
    EXPECT_LT(SecondsSince(t0), 30.0);
    uint8_t b;
    EXPECT_EQ(tStream_Read(s, &b, 1), tErrConnection);
    EXPECT_EQ(tStream_Write(s, data, 2), tErrConnection);
    EXPECT_EQ(tStream_Wait(s, 1000), tErrNone);  // at once: the next get reports the state
    tStream_Destroy(&s);
  }
}

TEST(SocketStream, AnOrderlyClosedPeerLooksIdleAndTheWaitSleeps) {
  Listener listener;
  tStream* s = nullptr;
  ASSERT_EQ(tStream_CreateSocket(kLoopback, listener.port(), &s), tErrNone);
  int peer = listener.Accept();
  shutdown(peer, SHUT_WR);
  tTime_MSSleep(30);
  uint8_t b;
  EXPECT_EQ(tStream_Read(s, &b, 1), tErrNotReady);
  // A reader that waits before every get makes few rounds, not thousands.
  EXPECT_LT(IdleRounds(s, 200), 20);
  close(peer);
  tStream_Destroy(&s);
}

TEST(SocketStream, APeerThatClosedAndThenResetAWriteStillLooksIdle) {
  Listener listener;
  tStream* s = nullptr;
  ASSERT_EQ(tStream_CreateSocket(kLoopback, listener.port(), &s), tErrNone);
  int peer = listener.Accept();
  close(peer);  // the module goes away in order
  tTime_MSSleep(30);
  uint8_t b;
  EXPECT_EQ(tStream_Read(s, &b, 1), tErrNotReady);
  const uint8_t data[1] = {7};
  tStream_Write(s, data, 1);  // answered with a reset by the closed peer
  tTime_MSSleep(50);
  EXPECT_LT(IdleRounds(s, 300, /*mayBeGone=*/true), 30);  // a spinning reader makes thousands
  tStream_Destroy(&s);
}

TEST(SocketStream, AResetSeenByTheWaitIsActedOnByTheNextGet) {
  Listener listener;
  tStream* s = StreamWithAResetPeer(listener);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(tStream_Wait(s, 100), tErrNone);
  uint8_t b;
  EXPECT_EQ(tStream_Read(s, &b, 1), tErrNotReady);
  int second = listener.Accept(2000);
  EXPECT_GE(second, 0);  // the get reconnected
  if (second >= 0) close(second);
  tStream_Destroy(&s);
}

// Reads n bytes in reads of the given sizes (in turn), waiting on the stream
// whenever it has nothing; stops at the first failure or after the bound.
tErr ReadInPieces(tStream* s, std::vector<uint8_t>* out, size_t n, const std::vector<uint32_t>& sizes) {
  const uint64_t end = tTime_GetMonotonicMSTicks() + 5000;
  size_t turn = 0;
  while (out->size() < n) {
    const uint32_t size = static_cast<uint32_t>(std::min<size_t>(sizes[turn % sizes.size()], n - out->size()));
    std::vector<uint8_t> piece(size);
    const tErr err = tStream_Read(s, piece.data(), size);
    if (err == tErrNotReady) {
      if (tTime_GetMonotonicMSTicks() > end) return tErrTimeout;
      tStream_Wait(s, 50);
      continue;
    }
    if (err != tErrNone) return err;
    out->insert(out->end(), piece.begin(), piece.end());
    turn++;
  }
  return tErrNone;
}

// A stream connected to a peer socket of the test.
class SocketStreamPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(tStream_CreateSocket(kLoopback, listener.port(), &s), tErrNone);
    peer = listener.Accept();
    ASSERT_GE(peer, 0);
  }
  void TearDown() override {
    if (peer >= 0) close(peer);
    tStream_Destroy(&s);
  }
  // The peer sends text; the stream's first byte is read, so the stream has
  // taken in the rest without handing it out yet.
  void SendAndReadTheFirstByte(const std::string& text) {
    ASSERT_EQ(send(peer, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    ASSERT_EQ(ReadInPieces(s, &got, 1, {1}), tErrNone);
    ASSERT_EQ(got[0], static_cast<uint8_t>(text[0]));
  }
  std::string Got() const { return std::string(got.begin(), got.end()); }

  Listener listener;
  tStream* s = nullptr;
  int peer = -1;
  std::vector<uint8_t> got;
};

// More than one receive's worth of bytes, sent in uneven pieces, comes out
// whole and in order whatever the size of the reads.
TEST_F(SocketStreamPeer, BytesComeOutInOrderAcrossReceivesAndReads) {
  std::vector<uint8_t> sent(10000);
  for (size_t i = 0; i < sent.size(); i++) sent[i] = static_cast<uint8_t>(i * 7 + i / 251);
  std::thread sender([&] {
    const size_t pieces[] = {1, 9, 4096, 3000, 30, 2864};
    size_t at = 0;
    for (size_t n : pieces) {
      EXPECT_EQ(send(peer, sent.data() + at, n, 0), static_cast<ssize_t>(n));
      at += n;
      tTime_MSSleep(5);
    }
  });
  const tErr err = ReadInPieces(s, &got, sent.size(), {1, 7, 600, 1, 4097, 2});
  sender.join();
  EXPECT_EQ(err, tErrNone);
  EXPECT_TRUE(got == sent);
  uint8_t b;
  EXPECT_EQ(tStream_Read(s, &b, 1), tErrNotReady);  // nothing more, and nothing twice
}

// Bytes the stream has already taken in count as there: the wait says so at
// once, although the socket itself has nothing left.
TEST_F(SocketStreamPeer, WaitReportsBytesTakenInButNotYetHandedOut) {
  SendAndReadTheFirstByte("xyz");
  EXPECT_EQ(tStream_Wait(s, 5000), tErrNone);
  ASSERT_EQ(ReadInPieces(s, &got, 3, {2}), tErrNone);
  EXPECT_EQ(Got(), "xyz");
  EXPECT_EQ(tStream_Wait(s, 30), tErrTimeout);  // now the stream is empty again
}

// The peer sends, then resets the connection while most of its bytes are
// still inside the stream: they come out in order first, and only the get
// after them notices the reset and reconnects.
TEST_F(SocketStreamPeer, BytesTakenInBeforeAPeerResetStillComeOut) {
  SendAndReadTheFirstByte("abcdef");
  ResetConnection(peer);
  peer = -1;
  tTime_MSSleep(50);  // let the reset arrive
  ASSERT_EQ(ReadInPieces(s, &got, 6, {5}), tErrNone);
  EXPECT_EQ(Got(), "abcdef");

  uint8_t b;
  std::atomic<tErr> result{tErrUnknown};
  std::thread reader([&] { result = tStream_Read(s, &b, 1); });
  peer = listener.Accept();
  reader.join();
  ASSERT_GE(peer, 0);
  EXPECT_EQ(result.load(), tErrNotReady);
  ASSERT_EQ(send(peer, "g", 1, 0), 1);
  got.clear();
  ASSERT_EQ(ReadInPieces(s, &got, 1, {1}), tErrNone);
  EXPECT_EQ(Got(), "g");
}

// Once a reconnect has failed the stream is disconnected for good: bytes it
// still held from the lost connection are not handed out.
TEST_F(SocketStreamPeer, ADisconnectedStreamHandsOutNothingItHeld) {
  SendAndReadTheFirstByte("ab");
  listener.Close();
  ResetConnection(peer);
  peer = -1;
  tTime_MSSleep(50);
  const uint8_t data[2] = {1, 2};
  EXPECT_EQ(tStream_Write(s, data, 2), tErrConnection);
  uint8_t b;
  EXPECT_EQ(tStream_Read(s, &b, 1), tErrConnection);
}

// The link's reader and writer use one stream at once while the peer keeps
// resetting the connection. Each reset is noticed by whichever thread comes
// first and reconnected exactly once, and the other thread is never handed
// the dead or the replaced descriptor: no get or write fails.
TEST(SocketStream, ReaderAndWriterShareReconnects) {
  Listener listener;
  tStream* s = nullptr;
  ASSERT_EQ(tStream_CreateSocket(kLoopback, listener.port(), &s), tErrNone);
  const int kResets = 8;
  std::atomic<bool> stop{false};
  std::atomic<int> badGets{0}, badWrites{0}, writes{0};

  std::thread reader([&] {
    while (!stop) {
      tStream_Wait(s, 20);
      uint8_t b;
      tErr err = tStream_Read(s, &b, 1);
      if (err != tErrNone && err != tErrNotReady) badGets++;
    }
  });
  std::thread writer([&] {
    const uint8_t msg[8] = {'0', '1', '2', '3', '4', '5', '6', '7'};
    while (!stop) {
      if (tStream_Write(s, msg, 8) != tErrNone) badWrites++;
      writes++;
      tTime_MSSleep(2);
    }
  });

  int accepted = 0;
  int last = -1;
  for (int i = 0; i <= kResets; i++) {
    int peer = listener.Accept();
    if (peer < 0) break;
    accepted++;
    EXPECT_EQ(ReadExactly(peer, 16).size(), 16u) << "connection " << i;
    send(peer, "pq", 2, 0);
    if (i < kResets) {
      ResetConnection(peer);
    } else {
      last = peer;
    }
  }
  tTime_MSSleep(50);
  stop = true;
  reader.join();
  writer.join();
  EXPECT_EQ(accepted, kResets + 1);
  EXPECT_EQ(listener.Accept(100), -1);  // no second reconnect for any reset
  if (last >= 0) close(last);
  EXPECT_EQ(badGets.load(), 0);
  EXPECT_EQ(badWrites.load(), 0);
  EXPECT_GT(writes.load(), kResets);
  tStream_Destroy(&s);
}

}  // namespace

#include "sdk/core/tSocketStream.h"

#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "sdk/core/tTime.h"
#include "sdk/core/tWatch.h"

namespace {

const uint32_t sConnected = 0x1;
// The wait's peek took a reset's error off the socket: the next get acts on it.
const uint32_t sPeerDropped = 0x2;

// Bytes taken from the socket in one receive call. A module's reply is a few
// packets of at most 30 bytes, a pooled batch at most 4096: one call
// usually takes all that is there, instead of one call per byte.
const size_t sInputSize = 4096;

struct sSocketState {
  uint16_t port;
  struct sockaddr_in address;
  std::atomic<int> socket;      // -1 until the first connect; then one number for life
  std::atomic<uint32_t> flags;  // sConnected, sPeerDropped
  uint16_t check;
  pthread_mutex_t lock;         // descriptor use, reconnects and the input bytes
  // Bytes received but not yet handed out: input[next, end). They came
  // before anything the socket holds now, so they go out first, also after
  // the writer has replaced a dropped connection (but not once the stream
  // is disconnected for good).
  uint8_t input[sInputSize];
  size_t next;
  size_t end;
  std::atomic<size_t> held;     // end - next, for the wait, which takes no lock
  tWatch watch;                 // the wait's look before it sleeps
};

sSocketState* sState(void* ref) {
  sSocketState* s = static_cast<sSocketState*>(ref);
  return (s != NULL && s->check == tSOCKETSTREAMCHECK) ? s : NULL;
}

bool sIsConnected(const sSocketState* s) { return (s->flags.load() & sConnected) != 0; }

bool sDropped(int e) { return e == ECONNRESET || e == ENOTCONN || e == ETIMEDOUT; }

// Ends the connection but keeps the descriptor number: an unconnected socket
// takes its place, so the other thread never sees a closed or reused number.
// Lock held.
void sSocketStreamClose(sSocketState* s) {
  s->flags.fetch_and(~sConnected);
  int fd = s->socket.load();
  if (fd >= 0) {
    shutdown(fd, SHUT_RDWR);  // wakes a waiter at once
    int placeholder = ::socket(AF_INET, SOCK_STREAM, 0);
    if (placeholder >= 0) {
      dup2(placeholder, fd);
      close(placeholder);
    } else {
      close(fd);
      s->socket.store(-1);
    }
  }
  tTime_MSSleep(10);
}

tErr sSocketStreamSetOptions(int fd) {
  int one = 1;
  if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one)) != 0) return tErrIO;
  struct timeval none = {0, 0};
  if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof(none)) != 0) return tErrIO;
  struct linger reset = {1, 0};
  if (setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset)) != 0) return tErrIO;
  if (ioctl(fd, FIONBIO, &one) != 0) return tErrIO;
  return tErrNone;
}

// Connects fd, waiting at most timeoutMs for the peer's answer: a host that
// is down or drops the attempt would otherwise hold the caller (a link's
// thread, or a caller writing or reading at once) for the system's minutes
// of retries. 0, or the errno of the failure (ETIMEDOUT when no answer).
int sConnectWithin(int fd, const struct sockaddr_in* address, int timeoutMs) {
  int one = 1;
  if (ioctl(fd, FIONBIO, &one) != 0) return errno;
  if (connect(fd, reinterpret_cast<const struct sockaddr*>(address), sizeof(*address)) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  const uint64_t start = tTime_GetMonotonicMSTicks();
  for (;;) {
    const uint64_t spent = tTime_GetMonotonicMSTicks() - start;
    if (spent >= static_cast<uint64_t>(timeoutMs)) return ETIMEDOUT;
    struct pollfd p = {fd, POLLOUT, 0};
    const int rc = poll(&p, 1, static_cast<int>(timeoutMs - static_cast<int>(spent)));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return errno;
    if (rc == 0) return ETIMEDOUT;
    int error = 0;
    socklen_t length = sizeof(error);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
  }
}

// Connects, or reconnects after the connection was lost. Lock held.
tErr sSocketStreamReset(sSocketState* s) {
  if (s == NULL) return tErrInitialization;
  if (s->socket.load() >= 0) sSocketStreamClose(s);
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return tErrIO;
  const int e = sConnectWithin(fd, &s->address, tSOCKET_CONNECT_TIMEOUT_MS);
  if (e != 0) {
    close(fd);
    return (e == ECONNRESET || e == EAGAIN || e == ETIMEDOUT || e == ECONNREFUSED) ? tErrConnection : tErrIO;
  }
  if (sSocketStreamSetOptions(fd) != tErrNone) {
    close(fd);
    return tErrIO;
  }
  int current = s->socket.load();
  if (current >= 0) {
    if (dup2(fd, current) < 0) {
      close(fd);
      return tErrIO;
    }
    close(fd);
  } else {
    s->socket.store(fd);
  }
  s->flags.fetch_or(sConnected);
  return tErrNone;
}

class sLocked {
 public:
  explicit sLocked(sSocketState* s) : s_(s) { pthread_mutex_lock(&s_->lock); }
  ~sLocked() { pthread_mutex_unlock(&s_->lock); }
  sLocked(const sLocked&) = delete;
  sLocked& operator=(const sLocked&) = delete;

 private:
  sSocketState* s_;
};

// Hands out the next received byte, if any. Lock held.
bool sTakeInput(sSocketState* s, uint8_t* byte) {
  if (s->next == s->end) return false;
  *byte = s->input[s->next++];
  s->held.store(s->end - s->next);
  return true;
}

// One non-blocking receive of whatever is there, up to the input size, into
// the empty input buffer. Lock held.
ssize_t sReceive(sSocketState* s) {
  ssize_t n = recv(s->socket.load(), s->input, sInputSize, MSG_DONTWAIT);
  s->next = 0;
  s->end = n > 0 ? static_cast<size_t>(n) : 0;
  s->held.store(s->end);
  return n;
}

tErr sSocketStreamGet(uint8_t* byte, void* ref) {
  sSocketState* s = sState(ref);
  if (s == NULL || byte == NULL) return tErrParam;
  sLocked locked(s);
  if (!sIsConnected(s)) return tErrConnection;
  if (sTakeInput(s, byte)) return tErrNone;
  const bool dropped = (s->flags.fetch_and(~sPeerDropped) & sPeerDropped) != 0;
  ssize_t n = dropped ? -1 : sReceive(s);
  if (dropped) errno = ECONNRESET;
  if (n < 0 && sDropped(errno)) {
    s->flags.fetch_and(~sConnected);
    tErr err = sSocketStreamReset(s);
    if (err != tErrNone) return err;
    n = sReceive(s);
    if (n < 0 && sDropped(errno)) return tErrNotReady;
  }
  if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? tErrNotReady : tErrConnection;
  if (n == 0) return tErrNotReady;  // closed in order: looks idle until a write reconnects
  sTakeInput(s, byte);
  return tErrNone;
}

tErr sSocketStreamWrite(const uint8_t* data, uint32_t length, void* ref) {
  sSocketState* s = sState(ref);
  if (s == NULL || data == NULL) return tErrParam;
  uint32_t sent = 0;
  int retries = 0;
  for (;;) {
    {
      sLocked locked(s);
      if (!sIsConnected(s)) return tErrConnection;
      ssize_t n = send(s->socket.load(), data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sent += static_cast<uint32_t>(n);
        retries = 1;
      } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        retries++;
      } else if (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN) {
        s->flags.fetch_and(~sConnected);
        tErr err = sSocketStreamReset(s);
        if (err != tErrNone) return err;
        retries++;
      } else {
        return tErrIO;
      }
    }
    if (sent >= length) return tErrNone;
    if (retries >= tSOCKET_MAX_SEND_RETRY) return tErrBusy;
    tTime_MSSleep(tSOCKET_RETRY_DELAY_MS);
  }
}

tErr sSocketStreamPut(const uint8_t* byte, void* ref) { return sSocketStreamWrite(byte, 1, ref); }

uint8_t sReadable(void* ref) { return poll(static_cast<struct pollfd*>(ref), 1, 0) > 0; }

tErr sSocketStreamWait(uint32_t timeoutMs, void* ref) {
  sSocketState* s = sState(ref);
  if (s == NULL) return tErrParam;
  if (s->held.load() > 0) return tErrNone;  // received bytes wait to be taken
  int fd = s->socket.load();
  if (!sIsConnected(s) || fd < 0) return tErrNone;  // the next get reports it
  uint64_t start = tTime_GetMonotonicMSTicks();
  // POLLRDHUP tells an orderly close apart from data without a peek at
  // every wake-up; only then does a peek see whether bytes are left.
  struct pollfd p = {fd, POLLIN | POLLRDHUP, 0};
  // A reply usually follows within microseconds while an exchange goes on:
  // look before sleeping (see tWatch).
  int rc = 1;
  if (timeoutMs == 0) {
    rc = poll(&p, 1, 0);
  } else if (!tWatch_Look(&s->watch, sReadable, &p)) {
    rc = poll(&p, 1, static_cast<int>(timeoutMs));
    tWatch_Slept(&s->watch);
  }
  if (rc == 0) return tErrTimeout;
  if (rc < 0) return errno == EINTR ? tErrTimeout : tErrNone;
  // A hang-up or an error with nothing to read would report "ready" forever
  // (a peer that closed and then answered a write with a reset keeps its
  // error flag while every read gives 0): look before saying so.
  if ((p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0 && (p.revents & POLLNVAL) == 0) {
    uint8_t b;
    ssize_t n = recv(fd, &b, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0 && sDropped(errno)) {
      s->flags.fetch_or(sPeerDropped);
      return tErrNone;
    }
    if (n == 0) {
      // Closed in order: nothing will come, so idle out the rest of the wait.
      uint64_t spent = tTime_GetMonotonicMSTicks() - start;
      if (spent < timeoutMs) tTime_MSSleep(static_cast<uint32_t>(timeoutMs - spent));
      return tErrTimeout;
    }
  }
  return tErrNone;
}

tErr sSocketStreamDelete(void* ref) {
  sSocketState* s = sState(ref);
  if (s == NULL) return tErrIO;
  int fd = s->socket.load();
  if (fd >= 0) {
    close(fd);
    tTime_MSSleep(10);
  }
  s->flags.store(0);
  s->check = 0;
  pthread_mutex_destroy(&s->lock);
  delete s;
  return tErrNone;
}

}  // namespace

tErr tStream_CreateSocket(uint32_t ipAddress, uint16_t port, tStream** out) {
  if (out == NULL) return tErrParam;
  *out = NULL;
  sSocketState* s = new (std::nothrow) sSocketState();
  if (s == NULL) return tErrResource;
  s->port = port;
  memset(&s->address, 0, sizeof(s->address));
  s->address.sin_family = AF_INET;
  s->address.sin_port = htons(port);
  s->address.sin_addr.s_addr = ipAddress;
  s->socket.store(-1);
  s->flags.store(0);
  s->next = s->end = 0;
  s->held.store(0);
  tWatch_Init(&s->watch);
  s->check = tSOCKETSTREAMCHECK;
  pthread_mutex_init(&s->lock, NULL);
  tErr err;
  {
    sLocked locked(s);
    err = sSocketStreamReset(s);
  }
  if (err != tErrNone) {
    sSocketStreamDelete(s);
    return tErrResource;
  }
  tStream* stream = tStream_Create(sSocketStreamGet, sSocketStreamPut, sSocketStreamWrite, sSocketStreamDelete, s);
  if (stream == NULL) {
    sSocketStreamDelete(s);
    return tErrResource;
  }
  tStream_SetWaitProc(stream, sSocketStreamWait);
  *out = stream;
  return tErrNone;
}

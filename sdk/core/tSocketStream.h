// The socket stream: a TCP client connection to an Ethernet module that
// reconnects by itself when the connection drops.
//
// Get never blocks: an idle connection answers tErrNotReady at once, and so
// does a connection the peer closed in order (until a write fails and
// reconnects). A reset, a lost or a timed-out connection noticed by get or
// write is reconnected at once inside that call (a new socket to the same
// address and port); when that fails the stream stays disconnected and every
// later get and write reports tErrConnection until the stream is made anew.
//   get:   tErrNone, tErrNotReady, tErrConnection (disconnected or a socket
//          failure), or the error of a failed reconnect. Get receives all
//          the socket holds (up to 4096 bytes) in one call and hands the
//          bytes out one per get, in order; bytes received before the peer
//          reset the connection still come out before the reset is noticed
//   write: tErrNone when every byte is sent; tErrBusy when 10 tries in a row
//          made no progress (60 ms apart); tErrConnection when disconnected;
//          tErrIO for a socket failure; or the error of a failed reconnect
//   wait:  tErrNone at once while received bytes wait to be taken;
//          otherwise polls the connection; an orderly-closed one counts as
//          idle, so a reader waiting on it sleeps rather than spins. While
//          an exchange goes on it first looks at the socket for a few tens
//          of microseconds before it sleeps (tWatch.h); a quiet connection
//          is never looked at, only polled
//
// The link's reader calls get and its writer calls write on the same stream,
// and both may reconnect. Reconnects and every use of the descriptor are
// serialised by a lock inside the stream, and the stream keeps one
// descriptor number for its whole life (a reconnect puts the new connection
// in place under the same number), so neither thread is ever handed a
// closed or replaced descriptor. The wait polls without the lock; it can
// only see this stream's connection, old or new.
#pragma once

#include <stdint.h>

#include "sdk/core/tStream.h"

#define tSOCKETSTREAMCHECK 0xDEADu
#define tSOCKET_RETRY_DELAY_MS 60
#define tSOCKET_MAX_SEND_RETRY 10
#define tSOCKET_CONNECT_TIMEOUT_MS 5000  // a connect (or reconnect) that gets no answer fails after this

// Connects to ipAddress:port (ipAddress in network byte order, as a linkSpec
// stores it; port in host order) with TCP_NODELAY, no receive timeout,
// SO_LINGER 0 (closing resets the connection) and non-blocking I/O. The
// connect waits for the peer's answer, up to tSOCKET_CONNECT_TIMEOUT_MS.
// *out is set to null first.
//   tErrParam     out is null
//   tErrResource  any other failure (memory, socket, connect, options)
tErr tStream_CreateSocket(uint32_t ipAddress, uint16_t port, tStream** out);

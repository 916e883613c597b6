// A COBS-framing stream around an inner transport (a serial line). Every
// packet written becomes one frame:
//   COBS(serialised packet + CRC-8 of it) 0x00
// and on the way in frames are checked and turned back into packet bytes, so
// the link above sees the same byte stream as on USB or TCP/IP.
//
// Get: takes the inner bytes that are there; once a frame is complete and
// sound it delivers the packet's bytes, one per call. tErrNotReady means the
// line has no more bytes right now, possibly in the middle of a frame (the
// rest comes with later calls). A frame that fails its COBS code, its length
// (length byte + 3) or its CRC is dropped whole and reported once as
// tErrPacket. Inner read failures never surface: they look like an idle line
// (tErrNotReady).
// On a serial line the bytes of one frame trickle in at the line rate, so a
// reader tells an idle line from a frame in flight by its wait: after a wait
// that returned tErrNone, tErrNotReady only means the next byte is on its way.
// Write: bytes are assembled into packets; each complete packet goes out as
// one frame through the inner write function. Bytes of an unfinished packet
// wait for the next write. A failed frame write is remembered and writing
// goes on with the next packet; the last failure is returned.
// Put: passes the byte to the inner put unframed.
// Wait: a decoded frame waiting to be delivered counts as a byte; otherwise
// the inner wait decides (after an inner read failure the line counts as
// idle for one whole wait, so a dead line is not polled in a loop).
//
// The receive side is used only by get (the link reader) and the send side
// only by write (the link writer); they share nothing but the inner transport.
#pragma once

#include "sdk/core/tStream.h"

#define tCOBSSTREAMCHECK 0xC0B5u

// Wraps the inner transport given as its functions and state. The COBS
// stream owns it from then on: deleting the COBS stream deletes it. On
// failure the caller keeps the inner state.
//   tErrParam     out is null
//   tErrMemory    no memory for the state
//   tErrResource  the stream cannot be made
tErr tStream_CreateCobsEncoding(tStreamGetProc get, tStreamPutProc put, tStreamWriteProc write,
                                tStreamDeleteProc del, void* ref, tStream** out);

// The same with the inner transport's wait function (may be null).
tErr tStream_CreateCobsEncodingWithWait(tStreamGetProc get, tStreamPutProc put, tStreamWriteProc write,
                                        tStreamDeleteProc del, tStreamWaitProc wait, void* ref,
                                        tStream** out);

// The SDK's byte pipe: one small record with a table of transport functions
// and the transport's own state (procRef). Every transport plugs in through
// the same table: files, TCP sockets, serial lines, USB bulk endpoints,
// COBS-framed streams and the broker client.
//
// Contract of the transport functions (each gets the stream's procRef):
//   getProc(byte, ref)      takes one byte. tErrNone with *byte set; tErrNotReady
//                           when no byte is there now (a later call may
//                           succeed); tErrEOF at the end of a file; any other
//                           code is a transport failure.
//   putProc(byte, ref)      writes one byte.
//   writeProc(data, n, ref) writes n bytes in one go.
//   deleteProc(ref)         releases the transport state; its result becomes
//                           tStream_Destroy's.
//   waitProc(ms, ref)       sleeps until the transport may have a byte or ms
//                           milliseconds have passed: tErrNone when a get is
//                           worth calling now (a byte, an end of file or an
//                           error is there), tErrTimeout when nothing came.
//                           Any other code is a transport failure that the
//                           next get reports too.
// Any of them may be absent (null). A stream that has a writeProc also has a
// putProc: single bytes always go through putProc.
//
// Concurrency: a stream has no lock of its own. The link engine reads a
// stream only from its reader thread and writes it only from its writer
// thread; the pushback ring is touched only by reads (and by waits, which
// only look at it). A transport whose get and write share state serialises
// them itself (the socket stream does).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sdk/core/tErr.h"

#define tSTREAMCHECK 0x4321u
#define tSTREAMBUFCHUNK 512  // pushback ring size on first use, and its growth step

typedef tErr (*tStreamGetProc)(uint8_t* byte, void* ref);
typedef tErr (*tStreamPutProc)(const uint8_t* byte, void* ref);
typedef tErr (*tStreamWriteProc)(const uint8_t* data, uint32_t length, void* ref);
typedef tErr (*tStreamDeleteProc)(void* ref);
typedef tErr (*tStreamWaitProc)(uint32_t timeoutMs, void* ref);

typedef struct tStream {
  tStreamGetProc getProc;
  tStreamPutProc putProc;
  tStreamWriteProc writeProc;
  tStreamDeleteProc deleteProc;
  void* procRef;       // the transport's state, owned by the stream
  uint8_t* pushback;   // ring of bytes handed back; null until first used
  uint32_t buffered;   // bytes now in the ring
  size_t capacity;     // ring size in bytes
  size_t head;         // ring index of the next byte to take
  size_t tail;         // ring index of the next free slot
  uint16_t check;      // tSTREAMCHECK in a live stream
  tStreamWaitProc waitProc;  // null: tStream_Wait returns at once
} tStream;

#define tVALIDSTREAM(s) ((s) != NULL && (s)->check == tSTREAMCHECK)

// ---------------------------------------------------------------------------
// Core

// A new stream over the given transport, or null when memory runs out. The
// stream owns procRef from now on: tStream_Destroy calls deleteProc on it.
tStream* tStream_Create(tStreamGetProc getProc, tStreamPutProc putProc,
                        tStreamWriteProc writeProc, tStreamDeleteProc deleteProc, void* procRef);

// Gives the stream a wait function (null removes it). tErrParam for an
// invalid stream.
tErr tStream_SetWaitProc(tStream* s, tStreamWaitProc waitProc);

// Waits, at most timeoutMs milliseconds, until a read may give a byte. This
// is how a reader idles without spinning: a get on an idle line still
// reports tErrNotReady at once, but a reader that waits first sleeps.
//   tErrNone     the pushback ring holds bytes, the transport has a byte (or
//                an end of file, or an error for the next get to report), or
//                the stream has no wait function (its get paces itself, as a
//                USB transfer with its own timeout does)
//   tErrTimeout  nothing came within timeoutMs
//   tErrParam    invalid stream
// A transport whose get returns at once when idle must give a wait function,
// or its reader spins.
// The intended reader loop waits before every read and reads whatever the
// wait said, so that a tErrNotReady from the read means "idle for up to
// timeoutMs" and a stop flag is seen within that bound:
//   while (running) { tStream_Wait(s, 100); err = tStream_Read(s, &b, 1); ... }
tErr tStream_Wait(tStream* s, uint32_t timeoutMs);

// Reads exactly size bytes, first from the pushback ring, then from getProc.
//   tErrNone      buffer holds size bytes
//   tErrEOF       the transport ended first; buffer holds the bytes that came
//                 before the end (their count is not reported)
//   tErrNotReady  the transport had no byte now; every byte taken goes back
//                 into the ring, buffer is untouched, and a later read gets
//                 the same bytes again first
//   tErrParam     invalid stream or null buffer
//   tErrMode      no getProc
//   tErrResource  no memory for the scratch buffer
//   tErrMemory    no memory to hand the bytes back (they are lost)
// Any other transport failure drops the bytes taken and is returned.
tErr tStream_Read(tStream* s, uint8_t* buffer, uint32_t size);

// Writes length bytes: one writeProc call when there is one and length > 1,
// otherwise putProc byte by byte up to the first failure, whose code is
// returned. tErrParam for an invalid stream or null data, tErrMode when the
// stream has neither function. A length of 0 writes nothing.
tErr tStream_Write(tStream* s, const uint8_t* data, uint32_t length);

// Calls deleteProc (when present) and takes its result as its own, frees the
// ring, clears the check, frees the stream and nulls *s. For a null pointer
// it returns tErrParam; for an invalid stream it only nulls *s and returns
// tErrParam.
tErr tStream_Destroy(tStream** s);

// Copies bytes from in to out until in reports tErrEOF (success). Uses in's
// getProc and out's putProc directly, not the ring. tErrParam when either
// stream is invalid, tErrMode when in has no getProc or out no putProc; any
// other get error (tErrNotReady included) or any put error ends the copy
// with that code.
tErr tStream_Flush(tStream* in, tStream* out);

// Appends one byte to the pushback ring, creating it (512 bytes) or growing
// it by 512 bytes when it is full. tErrParam for an invalid stream,
// tErrMemory when the ring cannot be allocated or grown.
tErr tStreamBufferChar(tStream* s, uint8_t byte);

// ---------------------------------------------------------------------------
// Records and C strings

// Reads bytes until the terminator sequence has been seen or bufferSize
// bytes are stored. Terminator bytes are not stored. Bytes that began to
// match the terminator but turned out to be data are stored as data; those
// of them that no longer fit a full buffer, and a partial match at the end
// of a full buffer, stay in the stream as the start of the next read.
//   tErrNone      buffer holds the record, *outLength (when not null) its length
//   tErrEOF       the stream ended before any byte was stored
//                 (an end after some bytes ends the record with tErrNone)
//   tErrNotReady  the record is not complete yet; its bytes go back into the
//                 ring so a later call reads the whole record
//   tErrParam     invalid stream, null buffer or terminator, terminator length
//                 0, or bufferSize 0
//   tErrResource  no memory for the scratch buffer
// Other stream failures are returned. buffer is only written on success.
tErr tStream_ReadRecord(tStream* s, uint8_t* buffer, uint32_t* outLength, uint32_t bufferSize,
                        const uint8_t* terminator, uint32_t terminatorLength);

// Writes the record, then the terminator. tErrParam for an invalid stream, a
// null record or terminator, or a terminator length of 0.
tErr tStream_WriteRecord(tStream* s, const uint8_t* record, uint32_t recordLength,
                         const uint8_t* terminator, uint32_t terminatorLength);

// Reads a record ending with one NUL byte: at most bufferSize - 1 bytes,
// NUL-terminated on success. tErrParam also for bufferSize below 2.
tErr tStream_ReadCString(tStream* s, char* buffer, uint32_t bufferSize);

// Writes the text and then one NUL byte. tErrParam for a null text.
tErr tStream_WriteCString(tStream* s, const char* text);

// tStream_ReadRecord with a NUL-terminated text as terminator: at most
// bufferSize - 1 bytes, NUL-terminated on success. tErrParam also for an
// empty terminator or bufferSize below 2.
tErr tStream_ReadCStringRecord(tStream* s, char* buffer, uint32_t bufferSize, const char* terminator);

// Writes the text without its NUL, then the terminator with its NUL.
tErr tStream_WriteCStringRecord(tStream* s, const char* text, const char* terminator);

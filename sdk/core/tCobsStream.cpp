#include "sdk/core/tCobsStream.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "sdk/core/tCobs.h"
#include "sdk/core/tCrc8.h"
#include "sdk/core/tPacket.h"
#include "sdk/core/tTime.h"

namespace {

// The longest legal frame: 30 serialised bytes and the CRC, COBS-encoded
// (one code byte more), then the delimiter.
const size_t sBodyMax = tPACKET_MAX_BYTES + 1;
const size_t sEncodedMax = sBodyMax + 1;

struct sCobsState {
  tStreamGetProc get;
  tStreamPutProc put;
  tStreamWriteProc write;
  tStreamDeleteProc del;
  tStreamWaitProc wait;
  void* ref;
  uint16_t check;
  // receive side
  uint8_t frame[sEncodedMax];
  size_t frameLength;
  bool overlong;     // more bytes came than any legal frame holds
  // The two flags a wait reads are atomic: a wait may run on one thread
  // while another reads.
  std::atomic<bool> ready;  // a decoded frame waits to be delivered
  size_t readyLength;
  size_t readPosition;
  std::atomic<bool> innerFailed;  // the last inner get failed with more than "nothing there"
  // send side
  tPacket* assembly;
  uint8_t send[sEncodedMax + 1];
  size_t sendLength;
};

sCobsState* sState(void* ref) {
  sCobsState* s = static_cast<sCobsState*>(ref);
  return (s != NULL && s->check == tCOBSSTREAMCHECK) ? s : NULL;
}

// Checks a complete received frame and makes it ready for delivery.
tErr sFrameEnd(sCobsState* s) {
  size_t n = s->overlong ? 0 : cobs_decode_inplace(s->frame, s->frameLength);
  s->frameLength = 0;
  s->overlong = false;
  if (n <= 2) return tErrPacket;
  if (n != static_cast<size_t>(s->frame[1]) + 3) return tErrPacket;
  if (!crc8_check(s->frame, n - 1, s->frame[n - 1])) return tErrPacket;
  s->ready = true;
  s->readyLength = n - 1;
  s->readPosition = 0;
  return tErrNone;
}

// One byte of the decoded frame.
tErr sDeliver(sCobsState* s, uint8_t* byte) {
  *byte = s->frame[s->readPosition++];
  if (s->readPosition >= s->readyLength) {
    s->ready = false;
    s->readPosition = 0;
    s->frameLength = 0;
  }
  return tErrNone;
}

// Takes the inner bytes that are there, up to the end of a frame: a get
// reports tErrNotReady only when the line has nothing more right now (or a
// flood of bytes outlasts two frames' worth), so "not ready" keeps meaning
// what it means on every other stream.
tErr sCobsStreamGet(uint8_t* byte, void* ref) {
  sCobsState* s = sState(ref);
  if (s == NULL || byte == NULL) return tErrParam;
  if (s->ready) return sDeliver(s, byte);
  if (s->get == NULL) return tErrNotReady;
  for (size_t burst = 0; burst < 2 * (sEncodedMax + 1); burst++) {
    uint8_t b;
    tErr err = s->get(&b, s->ref);
    s->innerFailed = err != tErrNone && err != tErrNotReady;
    if (err != tErrNone) return tErrNotReady;
    if (b != 0) {
      if (s->frameLength < sEncodedMax) {
        s->frame[s->frameLength++] = b;
      } else {
        s->overlong = true;
      }
      continue;
    }
    if (s->frameLength == 0 && !s->overlong) continue;  // an empty frame
    if (sFrameEnd(s) == tErrPacket) return tErrPacket;
    return sDeliver(s, byte);
  }
  return tErrNotReady;
}

tErr sCobsStreamPut(const uint8_t* byte, void* ref) {
  sCobsState* s = sState(ref);
  if (s == NULL) return tErrParam;
  if (s->put == NULL) return tErrMode;
  return s->put(byte, s->ref);
}

// Frames the complete assembly packet and writes it.
tErr sSendPacket(sCobsState* s) {
  size_t n = 0;
  tErr err = tPacket_GetBytes(s->assembly, s->send, sizeof(s->send), &n);
  tPacket_Reset(s->assembly);
  if (err != tErrNone) return err;
  s->send[n] = crc8_create(s->send, n);
  n = cobs_encode_inplace(s->send, n + 1);
  s->send[n++] = 0;
  s->sendLength = n;
  if (s->write != NULL) return s->write(s->send, static_cast<uint32_t>(n), s->ref);
  if (s->put == NULL) return tErrMode;
  for (size_t i = 0; i < n; i++) {
    err = s->put(&s->send[i], s->ref);
    if (err != tErrNone) return err;
  }
  return tErrNone;
}

tErr sCobsStreamWrite(const uint8_t* data, uint32_t length, void* ref) {
  sCobsState* s = sState(ref);
  if (s == NULL || data == NULL) return tErrParam;
  tErr result = tErrNone;
  for (uint32_t i = 0; i < length; i++) {
    tErr err = tPacket_AddByte(s->assembly, data[i]);
    if (err != tErrNone) {
      // Not a packet: drop what was assembled and start again with the next byte.
      tPacket_Reset(s->assembly);
      result = err;
      continue;
    }
    if (tPacket_IsComplete(s->assembly)) {
      err = sSendPacket(s);
      if (err != tErrNone) result = err;
    }
  }
  return result;
}

tErr sCobsStreamWait(uint32_t timeoutMs, void* ref) {
  sCobsState* s = sState(ref);
  if (s == NULL) return tErrParam;
  if (s->ready) return tErrNone;
  if (s->innerFailed) {
    s->innerFailed = false;
    tTime_MSSleep(timeoutMs);
    return tErrTimeout;
  }
  if (s->wait == NULL) return tErrNone;
  return s->wait(timeoutMs, s->ref);
}

tErr sCobsStreamDelete(void* ref) {
  sCobsState* s = sState(ref);
  if (s == NULL) return tErrParam;
  tErr err = s->del != NULL ? s->del(s->ref) : tErrNone;
  tPacket_Destroy(&s->assembly);
  s->check = 0;
  free(s);
  return err;
}

}  // namespace

tErr tStream_CreateCobsEncodingWithWait(tStreamGetProc get, tStreamPutProc put, tStreamWriteProc write,
                                        tStreamDeleteProc del, tStreamWaitProc wait, void* ref,
                                        tStream** out) {
  if (out == NULL) return tErrParam;
  *out = NULL;
  sCobsState* s = static_cast<sCobsState*>(calloc(1, sizeof(sCobsState)));
  if (s == NULL) return tErrMemory;
  s->assembly = tPacket_Create();
  if (s->assembly == NULL) {
    free(s);
    return tErrMemory;
  }
  s->get = get;
  s->put = put;
  s->write = write;
  s->del = del;
  s->wait = wait;
  s->ref = ref;
  s->check = tCOBSSTREAMCHECK;
  tStream* stream = tStream_Create(sCobsStreamGet, sCobsStreamPut, sCobsStreamWrite, sCobsStreamDelete, s);
  if (stream == NULL) {
    tPacket_Destroy(&s->assembly);
    free(s);
    return tErrResource;
  }
  tStream_SetWaitProc(stream, sCobsStreamWait);
  *out = stream;
  return tErrNone;
}

tErr tStream_CreateCobsEncoding(tStreamGetProc get, tStreamPutProc put, tStreamWriteProc write,
                                tStreamDeleteProc del, void* ref, tStream** out) {
  return tStream_CreateCobsEncodingWithWait(get, put, write, del, NULL, ref, out);
}

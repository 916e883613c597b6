#include "sdk/core/tStream.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Reads of a few bytes (the link reader takes one at a time) use a scratch
// buffer on the stack; longer ones allocate.
const uint32_t sStackScratch = 64;

class sScratch {
 public:
  explicit sScratch(uint32_t size)
      : heap_(size > sStackScratch ? static_cast<uint8_t*>(malloc(size)) : NULL),
        data_(size > sStackScratch ? heap_ : local_) {}
  ~sScratch() { free(heap_); }
  sScratch(const sScratch&) = delete;
  sScratch& operator=(const sScratch&) = delete;
  uint8_t* data() const { return data_; }

 private:
  uint8_t local_[sStackScratch];
  uint8_t* heap_;
  uint8_t* data_;
};

bool sRingTake(tStream* s, uint8_t* byte) {
  if (s->buffered == 0) return false;
  *byte = s->pushback[s->head];
  s->head = (s->head + 1) % s->capacity;
  s->buffered--;
  return true;
}

// One byte: the ring first, then the transport.
tErr sGetByte(tStream* s, uint8_t* byte) {
  if (sRingTake(s, byte)) return tErrNone;
  return s->getProc(byte, s->procRef);
}

tErr sPushBack(tStream* s, const uint8_t* bytes, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) {
    tErr err = tStreamBufferChar(s, bytes[i]);
    if (err != tErrNone) return err;
  }
  return tErrNone;
}

// Puts bytes back in front of what the ring holds, so that they are the next
// ones read: appends them, then moves the bytes that were there behind them.
tErr sUnread(tStream* s, const uint8_t* bytes, uint32_t n) {
  if (n == 0) return tErrNone;
  uint32_t held = s->buffered;
  tErr err = sPushBack(s, bytes, n);
  for (uint32_t i = 0; err == tErrNone && i < held; i++) {
    uint8_t b;
    sRingTake(s, &b);
    err = tStreamBufferChar(s, b);
  }
  return err;
}

}  // namespace

tStream* tStream_Create(tStreamGetProc getProc, tStreamPutProc putProc,
                        tStreamWriteProc writeProc, tStreamDeleteProc deleteProc, void* procRef) {
  tStream* s = static_cast<tStream*>(calloc(1, sizeof(tStream)));
  if (s == NULL) return NULL;
  s->getProc = getProc;
  s->putProc = putProc;
  s->writeProc = writeProc;
  s->deleteProc = deleteProc;
  s->procRef = procRef;
  s->check = tSTREAMCHECK;
  return s;
}

tErr tStream_SetWaitProc(tStream* s, tStreamWaitProc waitProc) {
  if (!tVALIDSTREAM(s)) return tErrParam;
  s->waitProc = waitProc;
  return tErrNone;
}

tErr tStream_Wait(tStream* s, uint32_t timeoutMs) {
  if (!tVALIDSTREAM(s)) return tErrParam;
  if (s->buffered > 0 || s->waitProc == NULL) return tErrNone;
  return s->waitProc(timeoutMs, s->procRef);
}

tErr tStreamBufferChar(tStream* s, uint8_t byte) {
  if (!tVALIDSTREAM(s)) return tErrParam;
  if (s->pushback == NULL) {
    s->pushback = static_cast<uint8_t*>(malloc(tSTREAMBUFCHUNK));
    if (s->pushback == NULL) return tErrMemory;
    s->capacity = tSTREAMBUFCHUNK;
    s->head = s->tail = 0;
    s->buffered = 0;
  } else if (s->buffered + 1 >= s->capacity) {
    size_t grown = s->capacity + tSTREAMBUFCHUNK;
    uint8_t* ring = static_cast<uint8_t*>(malloc(grown));
    if (ring == NULL) return tErrMemory;
    for (uint32_t i = 0; i < s->buffered; i++) ring[i] = s->pushback[(s->head + i) % s->capacity];
    free(s->pushback);
    s->pushback = ring;
    s->capacity = grown;
    s->head = 0;
    s->tail = s->buffered;
  }
  s->pushback[s->tail] = byte;
  s->tail = (s->tail + 1) % s->capacity;
  s->buffered++;
  return tErrNone;
}

tErr tStream_Read(tStream* s, uint8_t* buffer, uint32_t size) {
  if (!tVALIDSTREAM(s) || buffer == NULL) return tErrParam;
  if (s->getProc == NULL) return tErrMode;
  sScratch scratch(size);
  if (scratch.data() == NULL) return tErrResource;

  uint32_t taken = 0;
  tErr err = tErrNone;
  while (taken < size) {
    err = sGetByte(s, &scratch.data()[taken]);
    if (err != tErrNone) break;
    taken++;
  }
  if (err == tErrNotReady) {
    tErr pushed = sPushBack(s, scratch.data(), taken);
    return pushed == tErrNone ? tErrNotReady : pushed;
  }
  if (err == tErrNone || err == tErrEOF) memcpy(buffer, scratch.data(), taken);
  return err;
}

tErr tStream_Write(tStream* s, const uint8_t* data, uint32_t length) {
  if (!tVALIDSTREAM(s) || data == NULL) return tErrParam;
  if (s->writeProc == NULL && s->putProc == NULL) return tErrMode;
  if (length == 0) return tErrNone;
  if (s->writeProc != NULL && (length > 1 || s->putProc == NULL)) {
    return s->writeProc(data, length, s->procRef);
  }
  for (uint32_t i = 0; i < length; i++) {
    tErr err = s->putProc(&data[i], s->procRef);
    if (err != tErrNone) return err;
  }
  return tErrNone;
}

tErr tStream_Destroy(tStream** s) {
  if (s == NULL) return tErrParam;
  if (!tVALIDSTREAM(*s)) {
    *s = NULL;
    return tErrParam;
  }
  tStream* stream = *s;
  tErr err = tErrNone;
  if (stream->deleteProc != NULL) err = stream->deleteProc(stream->procRef);
  free(stream->pushback);
  stream->check = 0;
  free(stream);
  *s = NULL;
  return err;
}

tErr tStream_Flush(tStream* in, tStream* out) {
  if (!tVALIDSTREAM(in) || !tVALIDSTREAM(out)) return tErrParam;
  if (in->getProc == NULL || out->putProc == NULL) return tErrMode;
  for (;;) {
    uint8_t byte;
    tErr err = in->getProc(&byte, in->procRef);
    if (err == tErrEOF) return tErrNone;
    if (err != tErrNone) return err;
    err = out->putProc(&byte, out->procRef);
    if (err != tErrNone) return err;
  }
}

namespace {

// Record assembly: stored data bytes plus the part of the terminator matched
// so far. When a partial match breaks, the longest tail of what was matched
// that still begins the terminator stays matched and the rest is data. When
// the buffer fills, the bytes taken but not stored (data that did not fit,
// and a partial match) are left in `unread` for the stream to give again.
struct sRecord {
  uint8_t* data;
  uint32_t stored;
  uint32_t room;
  const uint8_t* term;
  uint32_t termLength;
  uint8_t* candidate;  // scratch of termLength + 1 bytes
  uint32_t matched;
  const uint8_t* unread;
  uint32_t unreadLength;

  bool full() const { return stored >= room; }

  // Stores bytes while there is room; the rest, and the bytes of the match,
  // become the unread tail once the record is full. True when full.
  bool storeAll(const uint8_t* bytes, uint32_t n, uint32_t keep) {
    uint32_t i = 0;
    for (; i < n - keep && !full(); i++) data[stored++] = bytes[i];
    if (!full()) {
      matched = keep;
      return false;
    }
    unread = bytes + i;
    unreadLength = n - i;
    matched = 0;
    return true;
  }

  // Feeds one byte; true when the record is complete.
  bool feed(uint8_t b) {
    if (b == term[matched]) {
      matched++;
      return matched == termLength;
    }
    uint32_t n = matched;
    memcpy(candidate, term, n);
    candidate[n++] = b;
    uint32_t keep = n - 1 < termLength ? n - 1 : termLength - 1;
    for (; keep > 0; keep--) {
      if (memcmp(candidate + n - keep, term, keep) == 0) break;
    }
    return storeAll(candidate, n, keep);
  }
};

}  // namespace

tErr tStream_ReadRecord(tStream* s, uint8_t* buffer, uint32_t* outLength, uint32_t bufferSize,
                        const uint8_t* terminator, uint32_t terminatorLength) {
  if (!tVALIDSTREAM(s) || buffer == NULL || terminator == NULL || terminatorLength == 0 ||
      bufferSize == 0) {
    return tErrParam;
  }
  sScratch scratch(bufferSize);
  uint8_t* candidate = static_cast<uint8_t*>(malloc(terminatorLength + 1));
  if (scratch.data() == NULL || candidate == NULL) {
    free(candidate);
    return tErrResource;
  }
  sRecord r = {scratch.data(), 0, bufferSize, terminator, terminatorLength, candidate, 0, NULL, 0};

  tErr err = tErrNone;
  for (;;) {
    uint8_t byte;
    err = tStream_Read(s, &byte, 1);
    if (err != tErrNone) break;
    if (r.feed(byte)) break;
  }
  if (err == tErrEOF) {
    memcpy(candidate, terminator, r.matched);
    r.storeAll(candidate, r.matched, 0);
    err = r.stored > 0 ? tErrNone : tErrEOF;
  }
  if (err == tErrNone || err == tErrEOF) {
    tErr unread = sUnread(s, r.unread, r.unreadLength);
    if (unread != tErrNone) err = unread;
  } else if (err == tErrNotReady) {
    // Whatever was taken of the record goes back, the partial terminator
    // match included, so the next call starts the record over.
    tErr pushed = sPushBack(s, r.data, r.stored);
    if (pushed == tErrNone) pushed = sPushBack(s, terminator, r.matched);
    if (pushed != tErrNone) err = pushed;
  }
  free(candidate);
  if (err == tErrNone) {
    memcpy(buffer, r.data, r.stored);
    if (outLength != NULL) *outLength = r.stored;
  }
  return err;
}

tErr tStream_WriteRecord(tStream* s, const uint8_t* record, uint32_t recordLength,
                         const uint8_t* terminator, uint32_t terminatorLength) {
  if (!tVALIDSTREAM(s) || record == NULL || terminator == NULL || terminatorLength == 0) {
    return tErrParam;
  }
  tErr err = tStream_Write(s, record, recordLength);
  if (err != tErrNone) return err;
  return tStream_Write(s, terminator, terminatorLength);
}

namespace {

tErr sReadText(tStream* s, char* buffer, uint32_t bufferSize, const uint8_t* term, uint32_t termLength) {
  if (buffer == NULL || bufferSize < 2) return tErrParam;
  uint32_t length = 0;
  tErr err = tStream_ReadRecord(s, reinterpret_cast<uint8_t*>(buffer), &length, bufferSize - 1, term,
                                termLength);
  if (err == tErrNone) buffer[length] = '\0';
  return err;
}

}  // namespace

tErr tStream_ReadCString(tStream* s, char* buffer, uint32_t bufferSize) {
  static const uint8_t nul = 0;
  return sReadText(s, buffer, bufferSize, &nul, 1);
}

tErr tStream_WriteCString(tStream* s, const char* text) {
  if (text == NULL) return tErrParam;
  return tStream_Write(s, reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(strlen(text) + 1));
}

tErr tStream_ReadCStringRecord(tStream* s, char* buffer, uint32_t bufferSize, const char* terminator) {
  if (terminator == NULL || terminator[0] == '\0') return tErrParam;
  return sReadText(s, buffer, bufferSize, reinterpret_cast<const uint8_t*>(terminator),
                   static_cast<uint32_t>(strlen(terminator)));
}

tErr tStream_WriteCStringRecord(tStream* s, const char* text, const char* terminator) {
  if (text == NULL || terminator == NULL) return tErrParam;
  return tStream_WriteRecord(s, reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(strlen(text)),
                             reinterpret_cast<const uint8_t*>(terminator),
                             static_cast<uint32_t>(strlen(terminator) + 1));
}

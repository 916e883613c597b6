#include "sdk/core/tPacketLog.h"

#include <stdlib.h>

tPacketLog* tPacketLog_Create(uint32_t size) {
  if (size == 0) return nullptr;
  auto* log = static_cast<tPacketLog*>(calloc(1, sizeof(tPacketLog)));
  if (log == nullptr) return nullptr;
  log->data = static_cast<uint8_t*>(calloc(size, 1));
  if (log->data == nullptr) {
    free(log);
    return nullptr;
  }
  log->size = size;
  return log;
}

tErr tPacketLog_Put(tPacketLog* log, uint8_t kind, uint8_t length, const uint8_t* bytes) {
  if (log == nullptr || log->data == nullptr || (bytes == nullptr && length > 0)) return tErrParam;
  const uint32_t size = log->size;
  const uint32_t need = static_cast<uint32_t>(length) + 2;
  if (need >= size) return tErrOverrun;
  uint32_t used = (log->head + size - log->tail) % size;
  // A record goes in only when strictly smaller than the free space.
  while (need >= size - used) {
    const uint32_t oldLength = log->data[(log->tail + 1) % size];
    log->tail = (log->tail + 2 + oldLength) % size;
    used = (log->head + size - log->tail) % size;
  }
  uint32_t at = log->head;
  log->data[at] = kind;
  at = (at + 1) % size;
  log->data[at] = length;
  at = (at + 1) % size;
  for (uint32_t i = 0; i < length; i++) {
    log->data[at] = bytes[i];
    at = (at + 1) % size;
  }
  log->head = at;
  return tErrNone;
}

tErr tPacketLog_Get(tPacketLog* log, uint8_t* kind, uint8_t* length, uint8_t* buffer) {
  if (log == nullptr || log->data == nullptr || kind == nullptr || length == nullptr) return tErrParam;
  if (log->head == log->tail) return tErrNotFound;
  const uint32_t size = log->size;
  const uint8_t capacity = *length;
  *kind = log->data[log->tail];
  *length = log->data[(log->tail + 1) % size];
  if (capacity < *length) return tErrOverrun;
  if (buffer == nullptr && *length > 0) return tErrParam;
  uint32_t at = (log->tail + 2) % size;
  for (uint32_t i = 0; i < *length; i++) {
    buffer[i] = log->data[at];
    at = (at + 1) % size;
  }
  log->tail = at;
  return tErrNone;
}

tErr tPacketLog_Destroy(tPacketLog** log) {
  if (log == nullptr || *log == nullptr) return tErrNone;
  (*log)->enabled = false;
  free((*log)->data);
  free(*log);
  *log = nullptr;
  return tErrNone;
}

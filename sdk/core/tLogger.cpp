#include "sdk/core/tLogger.h"

#include <pthread.h>
#include <stdlib.h>

#include <atomic>
#include <new>

#include "sdk/core/tThread.h"

struct tLogger {
  uint32_t argument;
  tLoggerRecordWriter writer;
  tFileRef file;
  tThread* thread;
  pthread_t threadId;             // the logger thread, once haveThreadId is set
  std::atomic<bool> haveThreadId;  // to spot calls from inside the record writer
  std::atomic<bool> enabled;
  uint16_t check;
};

namespace {

bool tVALIDLOGGER(const tLogger* l) { return l != nullptr && l->check == tLOGGERCHECK; }

void* sRunLog(void* argument) {
  auto* logger = static_cast<tLogger*>(argument);
  logger->threadId = pthread_self();
  logger->haveThreadId = true;
  while (logger->enabled) logger->writer(logger->file, logger->argument);
  return nullptr;
}

}  // namespace

tLogger* tLogger_Create(uint32_t argument, tLoggerRecordWriter writer, const char* path) {
  if (writer == nullptr || path == nullptr) return nullptr;
  tFileRef file = tFile_Open(path, tFileModeAppend);
  if (file == nullptr) return nullptr;
  tFile_SetUnbuffered(file);
  auto* logger = new (std::nothrow) tLogger();
  if (logger == nullptr) {
    tFile_Close(&file);
    return nullptr;
  }
  logger->argument = argument;
  logger->writer = writer;
  logger->file = file;
  logger->thread = nullptr;
  logger->haveThreadId = false;
  logger->enabled = false;
  logger->check = tLOGGERCHECK;
  return logger;
}

tErr tLogger_Enable(tLogger* logger) {
  if (!tVALIDLOGGER(logger)) return tErrParam;
  if (logger->enabled) return tErrNone;
  logger->enabled = true;
  logger->haveThreadId = false;
  logger->thread = tThread_Create(sRunLog, logger);
  if (logger->thread == nullptr) {
    logger->enabled = false;
    return tErrResource;
  }
  return tErrNone;
}

tErr tLogger_Disable(tLogger* logger) {
  if (!tVALIDLOGGER(logger)) return tErrParam;
  if (!logger->enabled) return tErrNone;
  // From inside the record writer: it cannot wait for itself. (Asked first:
  // the thread handle may not be stored yet when the writer runs.)
  if (logger->haveThreadId && pthread_equal(pthread_self(), logger->threadId)) return tErrNone;
  if (logger->thread == nullptr) return tErrNone;
  logger->enabled = false;
  const int joined = tThread_Destroy(&logger->thread);
  logger->haveThreadId = false;
  if (joined != 0) return tErrUnknown;
  return tErrNone;
}

tErr tLogger_Destroy(tLogger** logger) {
  if (logger == nullptr || !tVALIDLOGGER(*logger)) return tErrNone;
  tLogger* l = *logger;
  const tErr disabled = tLogger_Disable(l);
  if (disabled != tErrNone) return disabled;
  // Called from its own thread the logger keeps running, so it is not freed
  // under its feet.
  if (l->enabled) return tErrNone;
  tFile_Close(&l->file);
  l->check = 0;
  delete l;
  *logger = nullptr;
  return tErrNone;
}

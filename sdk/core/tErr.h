// Result codes of every SDK operation. The numbers are fixed: the
// application prints them and callers compare against them.
#pragma once

#include <stdint.h>

typedef enum tErr : uint32_t {
  tErrNone = 0,
  tErrMemory = 1,
  tErrParam = 2,
  tErrNotFound = 3,
  tErrFileNameLength = 4,
  tErrBusy = 5,
  tErrIO = 6,
  tErrMode = 7,
  tErrWrite = 8,
  tErrRead = 9,
  tErrEOF = 10,
  tErrNotReady = 11,
  tErrPermission = 12,
  tErrRange = 13,
  tErrSize = 14,
  tErrOverrun = 15,
  tErrParse = 16,
  tErrConfiguration = 17,
  tErrTimeout = 18,
  tErrInitialization = 19,
  tErrVersion = 20,
  tErrUnimplemented = 21,
  tErrDuplicate = 22,
  tErrCancel = 23,
  tErrPacket = 24,
  tErrConnection = 25,
  tErrIndexRange = 26,
  tErrShortCommand = 27,
  tErrInvalidEntity = 28,
  tErrInvalidOption = 29,
  tErrResource = 30,
  tErrMedia = 31,
  tErrAsyncReturn = 32,
  tErrStreamStale = 33,
  tErrUnknown = 34,
} tErr;

// Name of the code ("tErrNone" ...). Codes above 34 give "tErrUnknown".
const char* tError_GetErrorText(uint32_t code);
// One-line description of the code. Codes above 34 give that of tErrUnknown.
const char* tError_GetErrorDescription(uint32_t code);

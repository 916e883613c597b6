// A logger: a small worker thread that drains a record source into a file by
// calling the caller's record writer over and over. The record writer decides
// the pacing (the link object's sleeps 5 ms when its packet log is empty).
#pragma once

#include <stdint.h>

#include "sdk/core/tErr.h"
#include "store/tFile.h"

#define tLOGGERCHECK 0xDEEDu

// Called over and over on the logger thread with the file and the argument.
typedef void (*tLoggerRecordWriter)(tFileRef file, uint32_t argument);

typedef struct tLogger tLogger;

// A disabled logger writing to path (opened for appending, unbuffered); null
// when memory runs out, the writer is null or the file cannot be opened.
tLogger* tLogger_Create(uint32_t argument, tLoggerRecordWriter writer, const char* path);

// Starts the thread. tErrParam for an invalid logger, tErrNone at once when
// already enabled, tErrResource (still disabled) when the thread cannot start.
tErr tLogger_Enable(tLogger* logger);

// Stops the thread after its current record-writer call and waits for it.
// tErrParam for an invalid logger, tErrNone when already disabled. Called
// from inside the record writer it does nothing and returns tErrNone. A
// failed join gives tErrUnknown.
tErr tLogger_Disable(tLogger* logger);

// Disables an enabled logger and closes the file; when disabling succeeded,
// frees the logger and nulls *logger. Returns the disable result. A null or
// invalid logger returns tErrNone and changes nothing.
tErr tLogger_Destroy(tLogger** logger);

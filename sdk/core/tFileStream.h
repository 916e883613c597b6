// File streams over the file service (store/tFile.h): an input stream with
// only a get function (tErrEOF at the end of the file) and an output stream
// with put and write functions. Deleting either closes the file; the close's
// result (tErrIO when buffered bytes could not be written) becomes
// tStream_Destroy's. Neither has a wait function: a file always has its next
// byte or its end.
#pragma once

#include "sdk/core/tStream.h"

// Opens path for reading. *out is set to null first.
//   tErrResource  null path or out, the file cannot be opened, or the stream
//                 cannot be made
tErr tStream_CreateFileInput(const char* path, tStream** out);

// Creates or truncates path for writing; same results.
tErr tStream_CreateFileOutput(const char* path, tStream** out);

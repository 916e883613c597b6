// File handles with tErr results: a thin, checked layer over C streams that
// the store, the BIRD reader, the SDK's file streams and its logger share.
//
// Every operation except tFile_Open first checks the handle's validity tag
// and gives tErrParam for a null, closed or foreign handle. Nothing here
// prints.
#pragma once

#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "sdk/core/tErr.h"

// Longest path the file layer accepts; longer ones are refused.
#define tFILE_MAX_PATH 4096

#define tFILE_VALID_TAG 0xFEEDu

typedef enum tFileMode {
  tFileModeRead = 0,    // "rb"
  tFileModeWrite = 1,   // "wb": creates or truncates
  tFileModeAppend = 2,  // "ab+": reads anywhere, writes at the end
  tFileModeUnknown = 3  // always refused
} tFileMode;

typedef struct tFileRecord {
  FILE* stream;
  int mode;      // a tFileMode
  uint32_t tag;  // tFILE_VALID_TAG while open
} tFileRecord;

typedef tFileRecord* tFileRef;

#define tVALIDFILE(handle) ((handle) != NULL && (handle)->tag == tFILE_VALID_TAG)

// True only for an existing path that is not a directory. A null or
// over-long path, or a failed stat, gives false.
bool tFile_Exists(const char* path);

// Opens path in `mode`. Null for a null, empty or over-long path, a mode
// other than read, write or append, no memory, or a failed open. Append
// mode starts positioned at the end of the file.
tFileRef tFile_Open(const char* path, int mode);

// Closes the stream, clears the tag and frees the record; *handle becomes
// null whenever handle is not null. tErrParam for a null pointer or an
// invalid handle; tErrIO when the stream reported an error while closing
// (buffered data that could not be written), the handle is freed anyway.
tErr tFile_Close(tFileRef* handle);

// Reads up to length bytes into buffer. *read (when not null) receives the
// count, 0 on any failure. tErrMode unless opened for read or append;
// tErrParam for a null buffer; tErrEOF when nothing is left for a non-zero
// length; tErrIO when the stream failed before giving any byte.
tErr tFile_Read(tFileRef h, void* buffer, size_t length, size_t* read);

// Writes length bytes. *written (when not null) receives the count.
// tErrMode unless opened for write or append; tErrParam for null data with
// a non-zero length; tErrIO when fewer than length bytes were taken (a
// short write is a failure, never a partial success).
tErr tFile_Write(tFileRef h, const void* data, size_t length, size_t* written);

// Moves the position: origin 0 = start, 1 = current position, 2 = end.
// tErrRange for a target below 0 or beyond the file size (the position is
// then unchanged); tErrIO when the stream cannot tell or move; tErrParam for
// another origin.
tErr tFile_Seek(tFileRef h, int64_t offset, int origin);

// Size in bytes, measured by seeking to the end and back to the current
// position. tErrParam for a null size; tErrIO (with *size = 0) when the
// stream cannot seek.
tErr tFile_GetSize(tFileRef h, uint64_t* size);

// Reads one line (fgets) into buffer of `size` bytes, always NUL-terminated.
// *length (when not null) receives the text length, newline included.
// tErrMode unless opened for read or append; tErrParam for a null buffer or
// a size below 2; tErrEOF at end of file; tErrIO on a stream error;
// tErrOverrun when the line filled the buffer without its newline (the rest
// of the line is left for the next call).
tErr tFile_ReadLine(tFileRef h, char* buffer, size_t size, size_t* length);

// Makes a write or append stream unbuffered. tErrMode for a read stream or
// when the stream refuses.
tErr tFile_SetUnbuffered(tFileRef h);

// Formatted write; write or append streams only (else tErrMode). tErrParam
// for a null format, tErrIO when the stream reports a failure.
tErr tFile_Printf(tFileRef h, const char* format, ...) __attribute__((format(printf, 2, 3)));
tErr tFile_VPrintf(tFileRef h, const char* format, va_list args);

// Pushes buffered data to the file and the file to the disk (fflush and
// fsync). Write or append streams only (else tErrMode); tErrIO on failure.
tErr tFile_Flush(tFileRef h);

// Replaces path with exactly `size` bytes of data, atomically: the bytes go
// to a fresh temporary file in the same directory (named "." + the file's
// name + a unique suffix, so listings that skip dot-names never see it),
// which is flushed to disk and then renamed over path. An existing file's
// permission bits are kept. On any failure the temporary file is removed,
// whatever was at path before is left untouched, and the result says why:
// tErrParam (null path, or null data with a non-zero size),
// tErrFileNameLength (path too long), tErrPermission (the temporary file
// cannot be created), tErrIO (writing, flushing or renaming failed).
tErr tFile_Replace(const char* path, const void* data, size_t size);

// Directory services: the storage-directory helpers, directory listing and
// path joining. Nothing here prints.
#pragma once

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include "sdk/core/tErr.h"

#ifdef __cplusplus
#include <string>
#endif

#define tDIR_PATH_SEP "/"

// Copies the current user's home directory (password database, else $HOME,
// else "." so callers always have a path to join to) into buffer. The copy is
// always NUL-terminated, cut to length - 1 characters. Returns tErrNone.
tErr tDirectory_GetHomeDirectory(char* buffer, size_t length);

// True when path names an existing directory.
bool tDirectory_Exists(const char* path);

// Creates path and every missing parent with the permission bits `mode`.
// tErrNone only when path is a directory afterwards; tErrPermission when a
// directory could not be made, also when a file already stands at path (so a
// caller never goes on to use a file as its storage directory).
tErr tDirectory_Ensure(const char* path, mode_t mode);

// One entry of a listing, as handed to a tDirectory_List callback. Valid only
// during the call.
typedef struct tDirectoryListData {
  char path[2048];   // directory + "/" + entry name
  const char* name;  // the entry's own name, inside path
  uint32_t size;     // bytes, from stat (UINT32_MAX for anything larger)
  int isDirectory;   // 1 for a directory, else 0
} tDirectoryListData;

// Return false to stop the listing.
typedef bool (*tDirectoryListCallback)(const tDirectoryListData* entry, void* user);

// Calls callback for every entry of the directory at path, in the order
// readdir gives them, "." and ".." included. Entries whose stat fails, or
// whose full path does not fit the entry's buffer, are skipped. tErrParam for
// a null path or callback, tErrFileNameLength for a path over 4096
// characters, tErrNotFound when the directory cannot be opened; otherwise
// tErrNone, also when the callback stopped the listing.
tErr tDirectory_List(const char* path, tDirectoryListCallback callback, void* user);

// tDirectory_BuildPath(buffer, length, directory, name, NULL).
tErr tDirectory_JoinPath(char* buffer, size_t length, const char* directory, const char* name);

// Joins first and further components, up to a null pointer (pass nullptr or
// (char*)NULL, never a bare 0), into buffer: a "/" goes between two
// components unless the text so far ends with one or the next component
// begins with one. tErrParam for a null buffer or first component, a buffer
// that is also one of the components, or more than 10 components;
// tErrOverrun when the first component is length - 1 characters or longer, or
// a later one does not fit with its separator and the terminating NUL. The
// buffer is cleared first and holds an empty text after any failure.
tErr tDirectory_BuildPath(char* buffer, size_t length, const char* first, ...);

// Last occurrence of pattern in text, or null (also for a null argument). An
// empty pattern gives text itself.
const char* backwards_memcmp(const char* text, const char* pattern);

#ifdef __cplusplus
// Joins first and each further component up to a null pointer with "/".
// Separators already present are not looked at.
std::string BuildPath(const char* first, ...);
#endif

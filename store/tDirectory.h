// Directory services: the storage-directory helpers and path joining.
#pragma once

#include <stddef.h>
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
// tErrNone when the directory exists afterwards, else tErrPermission.
tErr tDirectory_Ensure(const char* path, mode_t mode);

#ifdef __cplusplus
// Joins first and each further component up to a null pointer with "/".
// Separators already present are not looked at.
std::string BuildPath(const char* first, ...);
#endif

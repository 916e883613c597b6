#include "store/tDirectory.h"

#include <dirent.h>
#include <errno.h>
#include <pwd.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

tErr tDirectory_GetHomeDirectory(char* buffer, size_t length) {
  if (!buffer || length == 0) return tErrNone;
  const char* home = nullptr;
  if (const struct passwd* pw = getpwuid(getuid())) home = pw->pw_dir;
  if (!home || !*home) home = getenv("HOME");
  if (!home || !*home) home = ".";
  strncpy(buffer, home, length - 1);
  buffer[length - 1] = '\0';
  return tErrNone;
}

bool tDirectory_Exists(const char* path) {
  struct stat st;
  return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// mkdir that tolerates a directory appearing under our feet.
bool sMakeDirectory(const char* path, mode_t mode) {
  if (tDirectory_Exists(path)) return true;
  return mkdir(path, mode) == 0 || errno == EEXIST;
}

}  // namespace

tErr tDirectory_Ensure(const char* path, mode_t mode) {
  if (!path || !*path) return tErrPermission;
  if (tDirectory_Exists(path)) return tErrNone;

  std::string copy(path);
  const char sep = tDIR_PATH_SEP[0];

  // Find the deepest ancestor that already exists; create from just after it.
  size_t start = 0;
  for (size_t cut = copy.rfind(sep); cut != std::string::npos && cut > 0;
       cut = copy.rfind(sep, cut - 1)) {
    if (tDirectory_Exists(copy.substr(0, cut).c_str())) {
      start = cut + 1;
      break;
    }
  }

  tErr result = tErrNone;
  for (size_t cut = copy.find(sep, start); cut != std::string::npos;
       cut = copy.find(sep, cut + 1)) {
    if (cut == 0 || copy[cut - 1] == sep) continue;  // root or empty component
    if (!sMakeDirectory(copy.substr(0, cut).c_str(), mode)) {
      result = tErrPermission;
      break;
    }
  }
  if (!sMakeDirectory(path, mode) || !tDirectory_Exists(path)) return tErrPermission;
  return result;
}

tErr tDirectory_List(const char* path, tDirectoryListCallback callback, void* user) {
  if (!path || !callback) return tErrParam;
  if (strnlen(path, 4097) > 4096) return tErrFileNameLength;
  DIR* directory = opendir(path);
  if (!directory) return tErrNotFound;
  tDirectoryListData entry;
  while (const struct dirent* d = readdir(directory)) {
    if (tDirectory_JoinPath(entry.path, sizeof entry.path, path, d->d_name) != tErrNone) continue;
    struct stat st;
    if (stat(entry.path, &st) != 0) continue;
    const char* cut = strrchr(entry.path, tDIR_PATH_SEP[0]);
    entry.name = cut ? cut + 1 : entry.path;
    entry.size = uint64_t(st.st_size) > UINT32_MAX ? UINT32_MAX : uint32_t(st.st_size);
    entry.isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
    if (!callback(&entry, user)) break;
  }
  closedir(directory);
  return tErrNone;
}

tErr tDirectory_JoinPath(char* buffer, size_t length, const char* directory, const char* name) {
  return tDirectory_BuildPath(buffer, length, directory, name, static_cast<const char*>(nullptr));
}

namespace {

const int sMaxPathComponents = 10;

tErr sBuildPath(char* buffer, size_t length, const char* first, va_list args) {
  const char* components[sMaxPathComponents];
  int count = 0;
  for (const char* c = first; c; c = va_arg(args, const char*)) {
    if (count == sMaxPathComponents || c == buffer) return tErrParam;
    components[count++] = c;
  }
  if (count == 0) return tErrParam;
  size_t used = strlen(first);
  if (used + 1 >= length) return tErrOverrun;
  memcpy(buffer, first, used + 1);
  for (int i = 1; i < count; ++i) {
    const char* c = components[i];
    bool separator = !(used > 0 && buffer[used - 1] == tDIR_PATH_SEP[0]) && c[0] != tDIR_PATH_SEP[0];
    size_t n = strlen(c);
    if (used + (separator ? 1 : 0) + n + 1 > length) return tErrOverrun;
    if (separator) buffer[used++] = tDIR_PATH_SEP[0];
    memcpy(buffer + used, c, n + 1);
    used += n;
  }
  return tErrNone;
}

}  // namespace

tErr tDirectory_BuildPath(char* buffer, size_t length, const char* first, ...) {
  if (!buffer) return tErrParam;
  if (length > 0) buffer[0] = '\0';
  va_list args;
  va_start(args, first);
  tErr result = sBuildPath(buffer, length, first, args);
  va_end(args);
  if (result != tErrNone && length > 0) buffer[0] = '\0';
  return result;
}

const char* backwards_memcmp(const char* text, const char* pattern) {
  if (!text || !pattern) return nullptr;
  size_t n = strlen(text), m = strlen(pattern);
  if (m == 0) return text;
  for (size_t i = n >= m ? n - m + 1 : 0; i-- > 0;) {
    if (memcmp(text + i, pattern, m) == 0) return text + i;
  }
  return nullptr;
}

std::string BuildPath(const char* first, ...) {
  std::string path(first ? first : "");
  va_list args;
  va_start(args, first);
  while (const char* component = va_arg(args, const char*)) {
    path += tDIR_PATH_SEP;
    path += component;
  }
  va_end(args);
  return path;
}

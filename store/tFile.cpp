#include "store/tFile.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>

namespace {

bool sPathAcceptable(const char* path) {
  return path && *path && strnlen(path, tFILE_MAX_PATH + 1) <= tFILE_MAX_PATH;
}

bool sCanRead(tFileRef h) { return h->mode == tFileModeRead || h->mode == tFileModeAppend; }
bool sCanWrite(tFileRef h) { return h->mode == tFileModeWrite || h->mode == tFileModeAppend; }

// Directory part of path ("" for a bare name, "/" kept for the root).
std::string sDirectoryOf(const std::string& path) {
  size_t cut = path.rfind('/');
  if (cut == std::string::npos) return "";
  return path.substr(0, cut + 1);
}

// Opens a fresh file next to `path`, named so that dot-name listings skip it.
// Opening with O_EXCL and mode 0666 gives the usual umask-filtered bits
// without touching the process umask.
int sOpenTemporary(const std::string& path, std::string* tempPath) {
  static std::atomic<unsigned> counter{0};
  std::string directory = sDirectoryOf(path);
  std::string name = path.substr(directory.size());
  std::string prefix = directory + (name[0] == '.' ? "" : ".") + name + ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned long stamp = (unsigned long)now.tv_nsec ^ ((unsigned long)getpid() << 16) ^
                          (counter.fetch_add(1) * 2654435761u);
    char suffix[32];
    snprintf(suffix, sizeof suffix, "%08lx", stamp & 0xFFFFFFFFul);
    *tempPath = prefix + suffix;
    if (tempPath->size() > tFILE_MAX_PATH) return -1;
    int fd = open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool sWriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

// Makes a rename durable; a directory that cannot be synced is no error of
// the write itself.
void sSyncDirectory(const std::string& directory) {
  int fd = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)fsync(fd);
  close(fd);
}

}  // namespace

bool tFile_Exists(const char* path) {
  struct stat st;
  if (!sPathAcceptable(path)) return false;
  return stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

tFileRef tFile_Open(const char* path, int mode) {
  static const char* const modes[] = {"rb", "wb", "ab+"};
  if (!sPathAcceptable(path) || mode < tFileModeRead || mode > tFileModeAppend) return nullptr;
  tFileRef h = static_cast<tFileRef>(calloc(1, sizeof(tFileRecord)));
  if (!h) return nullptr;
  h->stream = fopen(path, modes[mode]);
  if (!h->stream) {
    free(h);
    return nullptr;
  }
  if (mode == tFileModeAppend && fseeko(h->stream, 0, SEEK_END) != 0) {
    fclose(h->stream);
    free(h);
    return nullptr;
  }
  h->mode = mode;
  h->tag = tFILE_VALID_TAG;
  return h;
}

tErr tFile_Close(tFileRef* handle) {
  if (!handle) return tErrParam;
  tFileRef h = *handle;
  *handle = nullptr;
  if (!tVALIDFILE(h)) return tErrParam;
  int closed = fclose(h->stream);
  h->tag = 0;
  h->stream = nullptr;
  free(h);
  return closed == 0 ? tErrNone : tErrIO;
}

tErr tFile_Read(tFileRef h, void* buffer, size_t length, size_t* read) {
  if (read) *read = 0;
  if (!tVALIDFILE(h)) return tErrParam;
  if (!sCanRead(h)) return tErrMode;
  if (!buffer) return tErrParam;
  if (length == 0) return tErrNone;
  size_t n = fread(buffer, 1, length, h->stream);
  if (read) *read = n;
  if (n == 0) return ferror(h->stream) ? tErrIO : tErrEOF;
  return tErrNone;
}

tErr tFile_Write(tFileRef h, const void* data, size_t length, size_t* written) {
  if (written) *written = 0;
  if (!tVALIDFILE(h)) return tErrParam;
  if (!sCanWrite(h)) return tErrMode;
  if (length == 0) return tErrNone;
  if (!data) return tErrParam;
  size_t n = fwrite(data, 1, length, h->stream);
  if (written) *written = n;
  return n == length ? tErrNone : tErrIO;
}

tErr tFile_Seek(tFileRef h, int64_t offset, int origin) {
  if (!tVALIDFILE(h)) return tErrParam;
  if (origin < 0 || origin > 2) return tErrParam;
  uint64_t size = 0;
  off_t current = ftello(h->stream);
  if (current < 0) return tErrIO;
  if (tFile_GetSize(h, &size) != tErrNone) return tErrIO;
  int64_t base = origin == 0 ? 0 : origin == 1 ? int64_t(current) : int64_t(size);
  if ((offset > 0 && base > INT64_MAX - offset) || (offset < 0 && base + offset < 0))
    return tErrRange;
  int64_t target = base + offset;
  if (uint64_t(target) > size) return tErrRange;
  return fseeko(h->stream, off_t(target), SEEK_SET) == 0 ? tErrNone : tErrIO;
}

tErr tFile_GetSize(tFileRef h, uint64_t* size) {
  if (!tVALIDFILE(h) || !size) {
    if (size) *size = 0;
    return tErrParam;
  }
  *size = 0;
  off_t position = ftello(h->stream);
  if (position < 0 || fseeko(h->stream, 0, SEEK_END) != 0) return tErrIO;
  off_t end = ftello(h->stream);
  if (fseeko(h->stream, position, SEEK_SET) != 0 || end < 0) return tErrIO;
  *size = uint64_t(end);
  return tErrNone;
}

tErr tFile_ReadLine(tFileRef h, char* buffer, size_t size, size_t* length) {
  if (length) *length = 0;
  if (!tVALIDFILE(h)) return tErrParam;
  if (!sCanRead(h)) return tErrMode;
  if (!buffer || size < 2) return tErrParam;
  int capacity = size > size_t(INT_MAX) ? INT_MAX : int(size);
  buffer[0] = '\0';
  if (!fgets(buffer, capacity, h->stream)) {
    buffer[0] = '\0';
    return ferror(h->stream) ? tErrIO : tErrEOF;
  }
  size_t n = strlen(buffer);
  if (length) *length = n;
  if (n == size_t(capacity) - 1 && buffer[n - 1] != '\n') {
    // Full buffer without a newline: an over-long line, unless the file
    // simply ends here.
    int next = fgetc(h->stream);
    if (next == EOF) return tErrNone;
    ungetc(next, h->stream);
    return tErrOverrun;
  }
  return tErrNone;
}

tErr tFile_SetUnbuffered(tFileRef h) {
  if (!tVALIDFILE(h)) return tErrParam;
  if (!sCanWrite(h)) return tErrMode;
  return setvbuf(h->stream, nullptr, _IONBF, 0) == 0 ? tErrNone : tErrMode;
}

tErr tFile_VPrintf(tFileRef h, const char* format, va_list args) {
  if (!tVALIDFILE(h)) return tErrParam;
  if (!sCanWrite(h)) return tErrMode;
  if (!format) return tErrParam;
  return vfprintf(h->stream, format, args) < 0 ? tErrIO : tErrNone;
}

tErr tFile_Printf(tFileRef h, const char* format, ...) {
  va_list args;
  va_start(args, format);
  tErr result = tFile_VPrintf(h, format, args);
  va_end(args);
  return result;
}

tErr tFile_Flush(tFileRef h) {
  if (!tVALIDFILE(h)) return tErrParam;
  if (!sCanWrite(h)) return tErrMode;
  if (fflush(h->stream) != 0) return tErrIO;
  int fd = fileno(h->stream);
  if (fd < 0 || (fsync(fd) != 0 && errno != EINVAL && errno != EROFS)) return tErrIO;
  return tErrNone;
}

tErr tFile_Replace(const char* path, const void* data, size_t size) {
  if (!path || !*path || (!data && size > 0)) return tErrParam;
  if (!sPathAcceptable(path)) return tErrFileNameLength;
  std::string target(path);
  if (target.back() == '/') return tErrParam;

  std::string tempPath;
  int fd = sOpenTemporary(target, &tempPath);
  if (fd < 0) return tErrPermission;

  bool ok = sWriteAll(fd, static_cast<const uint8_t*>(data), size);
  struct stat old;
  if (ok && stat(path, &old) == 0 && S_ISREG(old.st_mode)) (void)fchmod(fd, old.st_mode & 07777);
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(tempPath.c_str(), path) == 0;
  if (!ok) {
    unlink(tempPath.c_str());
    return tErrIO;
  }
  sSyncDirectory(sDirectoryOf(target));
  return tErrNone;
}

#include "sdk/core/tFileStream.h"

#include "store/tFile.h"

namespace {

tErr sFileStreamGet(uint8_t* byte, void* ref) {
  tFileRef h = static_cast<tFileRef>(ref);
  size_t n = 0;
  tErr err = tFile_Read(h, byte, 1, &n);
  if (err != tErrNone) return err;
  return n == 1 ? tErrNone : tErrEOF;
}

tErr sFileStreamWrite(const uint8_t* data, uint32_t length, void* ref) {
  return tFile_Write(static_cast<tFileRef>(ref), data, length, nullptr);
}

tErr sFileStreamPut(const uint8_t* byte, void* ref) { return sFileStreamWrite(byte, 1, ref); }

tErr sFileStreamDelete(void* ref) {
  tFileRef h = static_cast<tFileRef>(ref);
  return tFile_Close(&h);
}

tErr sCreate(const char* path, int mode, tStream** out) {
  if (out == nullptr) return tErrResource;
  *out = nullptr;
  if (path == nullptr) return tErrResource;
  tFileRef h = tFile_Open(path, mode);
  if (h == nullptr) return tErrResource;
  tStream* s = mode == tFileModeRead
                   ? tStream_Create(sFileStreamGet, nullptr, nullptr, sFileStreamDelete, h)
                   : tStream_Create(nullptr, sFileStreamPut, sFileStreamWrite, sFileStreamDelete, h);
  if (s == nullptr) {
    tFile_Close(&h);
    return tErrResource;
  }
  *out = s;
  return tErrNone;
}

}  // namespace

tErr tStream_CreateFileInput(const char* path, tStream** out) { return sCreate(path, tFileModeRead, out); }

tErr tStream_CreateFileOutput(const char* path, tStream** out) { return sCreate(path, tFileModeWrite, out); }

#include "sdk/core/tSerialStream.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "sdk/core/tCobsStream.h"
#include "sdk/core/tTime.h"

namespace {

const uint32_t sRates[tSERIAL_BAUD_COUNT] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
const speed_t sSpeeds[tSERIAL_BAUD_COUNT] = {B2400, B4800, B9600, B19200, B38400, B57600, B115200, B230400};

struct sSerialState {
  int baudIndex;
  char path[tSERIAL_PATH_MAX];
  int descriptor;  // -1 when closed
  struct termios saved;
  struct termios settings;
  bool haveSaved;
  uint16_t check;
};

sSerialState* sState(void* ref) {
  sSerialState* s = static_cast<sSerialState*>(ref);
  return (s != NULL && s->check == tSERIALSTREAMCHECK) ? s : NULL;
}

bool sArgumentsValid(const char* path, int baudIndex, int dataBits, int stopBits) {
  // A path that does not fit the state whole is refused: cut short, it could
  // name another device.
  return path != NULL && strnlen(path, tSERIAL_PATH_MAX) < tSERIAL_PATH_MAX && dataBits >= 0 && dataBits <= 1 && stopBits >= 0 && stopBits <= 1 && baudIndex >= 0 &&
         baudIndex < tSERIAL_BAUD_COUNT;
}

sSerialState* sNewState(const char* path, int baudIndex) {
  sSerialState* s = static_cast<sSerialState*>(calloc(1, sizeof(sSerialState)));
  if (s == NULL) return NULL;
  s->baudIndex = baudIndex;
  strncpy(s->path, path, sizeof(s->path) - 1);
  s->descriptor = -1;
  s->check = tSERIALSTREAMCHECK;
  return s;
}

tErr sStreamOpenSerial(sSerialState* s, bool parity, int dataBits, int stopBits) {
  int fd = open(s->path, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return tErrNotFound;
    if (errno == EACCES) return tErrPermission;
    return tErrIO;
  }
  if (fcntl(fd, F_SETFL, 0) != 0 || tcgetattr(fd, &s->saved) != 0) {
    close(fd);
    return tErrIO;
  }
  s->descriptor = fd;
  s->haveSaved = true;
  struct termios t = s->saved;
  t.c_iflag = IGNBRK | (parity ? IGNPAR : 0);
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag = CLOCAL | CREAD | (parity ? PARENB : 0) | (dataBits == 1 ? CS7 : CS8) | (stopBits == 1 ? CSTOPB : 0);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, sSpeeds[s->baudIndex]);
  cfsetospeed(&t, sSpeeds[s->baudIndex]);
  s->settings = t;
  if (tcsetattr(fd, TCSANOW, &t) != 0 || tcflush(fd, TCIOFLUSH) != 0) return tErrIO;
  return tErrNone;
}

tErr sSerialStreamGet(uint8_t* byte, void* ref) {
  sSerialState* s = sState(ref);
  if (s == NULL || byte == NULL) return tErrParam;
  ssize_t n = read(s->descriptor, byte, 1);
  if (n == 1) return tErrNone;
  if (n == 0 || (n < 0 && (errno == EAGAIN || errno == EINTR))) return tErrNotReady;
  return tErrIO;
}

tErr sSerialStreamWrite(const uint8_t* data, uint32_t length, void* ref) {
  sSerialState* s = sState(ref);
  if (s == NULL || data == NULL) return tErrParam;
  ssize_t n = write(s->descriptor, data, length);
  if (n < 0 || static_cast<uint32_t>(n) != length) return tErrIO;
  tcdrain(s->descriptor);
  return tErrNone;
}

tErr sSerialStreamPut(const uint8_t* byte, void* ref) { return sSerialStreamWrite(byte, 1, ref); }

tErr sSerialStreamWait(uint32_t timeoutMs, void* ref) {
  sSerialState* s = sState(ref);
  if (s == NULL) return tErrParam;
  uint64_t start = tTime_GetMonotonicMSTicks();
  struct pollfd p = {s->descriptor, POLLIN, 0};
  int rc = poll(&p, 1, static_cast<int>(timeoutMs));
  if (rc == 0 || (rc < 0 && errno == EINTR)) return tErrTimeout;
  if (rc > 0 && (p.revents & POLLHUP) != 0) {
    // A hung-up line polls ready for ever while every read gives nothing:
    // idle out the wait so a reader does not spin on it.
    uint64_t spent = tTime_GetMonotonicMSTicks() - start;
    if (spent < timeoutMs) tTime_MSSleep(static_cast<uint32_t>(timeoutMs - spent));
    return tErrTimeout;
  }
  return tErrNone;
}

tErr sSerialStreamDelete(void* ref) {
  sSerialState* s = sState(ref);
  if (s == NULL) return tErrParam;
  if (s->descriptor >= 0) {
    if (s->haveSaved) tcsetattr(s->descriptor, TCSANOW, &s->saved);
    close(s->descriptor);
  }
  s->check = 0;
  free(s);
  return tErrNone;
}

}  // namespace

int tSerial_BaudIndex(uint32_t rate) {
  for (int i = 0; i < tSERIAL_BAUD_COUNT; i++) {
    if (sRates[i] == rate) return i;
  }
  return -1;
}

uint32_t tSerial_BaudRate(int index) { return (index >= 0 && index < tSERIAL_BAUD_COUNT) ? sRates[index] : 0; }

tErr tStream_CreateSerial(const char* path, int baudIndex, bool parity, int dataBits, int stopBits,
                          tStream** out) {
  if (out == NULL) return tErrResource;
  *out = NULL;
  if (!sArgumentsValid(path, baudIndex, dataBits, stopBits)) return tErrResource;
  sSerialState* s = sNewState(path, baudIndex);
  if (s == NULL) return tErrResource;
  tStream* stream = tStream_Create(sSerialStreamGet, sSerialStreamPut, sSerialStreamWrite, sSerialStreamDelete, s);
  if (stream == NULL) {
    sSerialStreamDelete(s);
    return tErrResource;
  }
  tStream_SetWaitProc(stream, sSerialStreamWait);
  tErr err = sStreamOpenSerial(s, parity, dataBits, stopBits);
  if (err != tErrNone) {
    tStream_Destroy(&stream);
    return err;
  }
  *out = stream;
  return tErrNone;
}

tErr tStream_CreateSerial_Packetized(const char* path, int baudIndex, bool parity, int dataBits,
                                     int stopBits, tStream** out) {
  if (out == NULL) return tErrParam;
  *out = NULL;
  if (!sArgumentsValid(path, baudIndex, dataBits, stopBits)) return tErrParam;
  sSerialState* s = sNewState(path, baudIndex);
  if (s == NULL) return tErrMemory;
  tErr err = sStreamOpenSerial(s, parity, dataBits, stopBits);
  if (err == tErrNone) {
    err = tStream_CreateCobsEncodingWithWait(sSerialStreamGet, sSerialStreamPut, sSerialStreamWrite,
                                             sSerialStreamDelete, sSerialStreamWait, s, out);
  }
  if (err != tErrNone) sSerialStreamDelete(s);
  return err;
}

#include "sdk/core/tMutex.h"

#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#define tMUTEXCHECK 0x7A7Au

struct tMutex {
  pthread_mutex_t mutex;
  char name[tMUTEX_NAME_MAX + 1];
  uint16_t check;
};

namespace {

bool sValid(const tMutex* m) { return m != NULL && m->check == tMUTEXCHECK; }

tErr sMap(int rc, int special, tErr specialErr) {
  if (rc == 0) return tErrNone;
  if (rc == EINVAL) return tErrParam;
  if (rc == special) return specialErr;
  return tErrUnknown;
}

}  // namespace

tMutex* tMutex_Create(const char* name) {
  if (name == NULL) name = "";
  size_t n = strlen(name);
  if (n > tMUTEX_NAME_MAX) return NULL;
  tMutex* m = static_cast<tMutex*>(calloc(1, sizeof(tMutex)));
  if (m == NULL) return NULL;
  if (pthread_mutex_init(&m->mutex, NULL) != 0) {
    free(m);
    return NULL;
  }
  memcpy(m->name, name, n + 1);
  m->check = tMUTEXCHECK;
  return m;
}

const char* tMutex_Identifier(const tMutex* m) { return sValid(m) ? m->name : ""; }

tErr tMutex_Lock(tMutex* m) {
  if (!sValid(m)) return tErrParam;
  return sMap(pthread_mutex_lock(&m->mutex), EDEADLK, tErrDuplicate);
}

tErr tMutex_TryLock(tMutex* m) {
  if (!sValid(m)) return tErrParam;
  return sMap(pthread_mutex_trylock(&m->mutex), EBUSY, tErrBusy);
}

tErr tMutex_Unlock(tMutex* m) {
  if (!sValid(m)) return tErrParam;
  return sMap(pthread_mutex_unlock(&m->mutex), EPERM, tErrPermission);
}

tErr tMutex_Destroy(tMutex** m) {
  if (m == NULL || !sValid(*m)) return tErrParam;
  int rc = pthread_mutex_destroy(&(*m)->mutex);
  if (rc == EBUSY) return tErrBusy;
  if (rc == EAGAIN) return tErrResource;
  if (rc != 0) return sMap(rc, 0, tErrNone);
  (*m)->check = 0;
  free(*m);
  *m = NULL;
  return tErrNone;
}

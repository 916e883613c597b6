#include "sdk/core/tThread.h"

#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <time.h>

struct tThread {
  pthread_t thread;
};

tThread* tThread_Create(tThreadFunction function, void* argument) {
  if (function == NULL) return NULL;
  tThread* t = static_cast<tThread*>(calloc(1, sizeof(tThread)));
  if (t == NULL) return NULL;
  if (pthread_create(&t->thread, NULL, function, argument) != 0) {
    free(t);
    return NULL;
  }
  return t;
}

int tThread_Destroy(tThread** t) {
  if (t == NULL || *t == NULL) return EINVAL;
  int rc = pthread_join((*t)->thread, NULL);
  free(*t);
  *t = NULL;
  return rc;
}

void tThread_Yield(void) {
  struct timespec ts = {0, 5000};
  nanosleep(&ts, NULL);
}

// A named operating-system mutex with tErr results: a thin wrapper that adds
// no ordering of its own. The name is kept for diagnostics.
#pragma once

#include "sdk/core/tErr.h"

#define tMUTEX_NAME_MAX 255  // longest name kept; longer names fail creation

typedef struct tMutex tMutex;

// A mutex with default attributes and a copy of `name` (null gives an empty
// name). Null when the name has 256 or more characters, when memory runs out
// or when the system refuses the mutex.
tMutex* tMutex_Create(const char* name);

// The name given at creation; "" for a null handle.
const char* tMutex_Identifier(const tMutex* m);

// Each maps the system's result: 0 -> tErrNone, EINVAL -> tErrParam, and
//   Lock:    EDEADLK -> tErrDuplicate
//   TryLock: EBUSY -> tErrBusy (held by someone, not taken)
//   Unlock:  EPERM -> tErrPermission
// any other value -> tErrUnknown. A null or destroyed handle gives tErrParam.
tErr tMutex_Lock(tMutex* m);
tErr tMutex_TryLock(tMutex* m);
tErr tMutex_Unlock(tMutex* m);

// Destroys and frees the mutex and nulls *m. tErrParam for a null pointer or
// handle; EBUSY (still locked) gives tErrBusy, EAGAIN tErrResource and any
// other failure tErrUnknown, and then the mutex is left alive and *m
// untouched.
tErr tMutex_Destroy(tMutex** m);

// Joinable threads with default attributes.
#pragma once

typedef struct tThread tThread;
typedef void* (*tThreadFunction)(void* argument);

// Starts `function(argument)` on a new joinable thread. Null when function is
// null, when memory runs out or when the system refuses the thread.
tThread* tThread_Create(tThreadFunction function, void* argument);

// Joins the thread, frees the handle and nulls *t. Returns the system's join
// result (0 on success); EINVAL for a null pointer or handle.
int tThread_Destroy(tThread** t);

// Gives the processor away briefly: sleeps 5000 nanoseconds.
void tThread_Yield(void);

#include "sdk/core/tDebug.h"

#include <stdarg.h>
#include <stdio.h>

bool tQuillnodeDebuggingEnable = false;
uint32_t tQuillnodeDebuggingLevel = 0;

bool tDebug_On(uint32_t area) {
  return tQuillnodeDebuggingEnable && (tQuillnodeDebuggingLevel & area) != 0;
}

void tDebug_Print(uint32_t area, const char* format, ...) {
  if (!tDebug_On(area)) return;
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  fflush(stdout);
}

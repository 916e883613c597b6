#include "sdk/core/tLinkSpec.h"

#include <stdlib.h>
#include <string.h>

bool isTMESH(linkType type) { return type >= TMESH && type <= TMESH_SERIAL; }

linkSpec* tLinkSpec_Create(linkType type) {
  linkSpec* spec = static_cast<linkSpec*>(calloc(1, sizeof(linkSpec)));
  if (spec) spec->type = type;
  return spec;
}

linkSpec* tLinkSpec_Copy(linkSpec spec) {
  linkSpec* copy = static_cast<linkSpec*>(malloc(sizeof(linkSpec)));
  if (copy) memcpy(copy, &spec, sizeof(linkSpec));
  return copy;
}

tErr tLinkSpec_Destroy(linkSpec** spec) {
  if (!spec || !*spec) return tErrParam;
  free(*spec);
  *spec = nullptr;
  return tErrNone;
}

// Module model codes, as a module reports them about itself.
#pragma once

#include <stdint.h>

// The model name of `code`, or "Unknown". Never null; never freed.
const char* tDefs_GetModelName(uint32_t code);

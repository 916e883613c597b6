// The program's option table and the meaning of its ids.
#pragma once

#include "app/SimpleOpt.h"

enum OptionKind {
  OPT_HELP = 0,       // -h, -H, --help
  OPT_COMMAND = 1,    // -B, -L, -D, ... chosen by the second character
  OPT_PARAMETER = 2,  // -X, -d, -t, ... chosen by the second character
  OPT_HTTPS = 3,      // --https
  OPT_HTTP = 4,       // --http
};

// 32 entries, ended by an entry with id -1 and a null text.
extern const CSimpleOpt::SOption g_rgOptions[];

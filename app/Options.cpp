#include "app/Options.h"

namespace {
constexpr int sNone = CSimpleOpt::ArgNone;
constexpr int sReq = CSimpleOpt::ArgRequired;
}  // namespace

const CSimpleOpt::SOption g_rgOptions[] = {
    {OPT_COMMAND, "-B", sNone},        {OPT_COMMAND, "-L", sNone},
    {OPT_COMMAND, "-D", sNone},        {OPT_COMMAND, "-G", sNone},
    {OPT_COMMAND, "-I", sNone},        {OPT_COMMAND, "-U", sNone},
    {OPT_COMMAND, "-OVERRIDE", sNone}, {OPT_COMMAND, "-N", sNone},
    {OPT_COMMAND, "-Y", sNone},        {OPT_COMMAND, "-C", sNone},
    {OPT_COMMAND, "-J", sNone},        {OPT_HELP, "-h", sNone},
    {OPT_HELP, "-H", sNone},           {OPT_PARAMETER, "-n", sNone},
    {OPT_PARAMETER, "-X", sReq},       {OPT_PARAMETER, "-Z", sReq},
    {OPT_PARAMETER, "-m", sReq},       {OPT_PARAMETER, "-i", sReq},
    {OPT_PARAMETER, "-b", sReq},       {OPT_PARAMETER, "-d", sReq},
    {OPT_PARAMETER, "-t", sReq},       {OPT_PARAMETER, "-f", sReq},
    {OPT_PARAMETER, "-r", sReq},       {OPT_PARAMETER, "-s", sReq},
    {OPT_PARAMETER, "-o", sReq},       {OPT_PARAMETER, "-e", sNone},
    {OPT_PARAMETER, "-l", sReq},       {OPT_PARAMETER, "-k", sReq},
    {OPT_PARAMETER, "-u", sReq},       {OPT_HELP, "--help", sNone},
    {OPT_HTTP, "--http", sNone},       {OPT_HTTPS, "--https", sNone},
    {-1, nullptr, sNone},
};

static_assert(sizeof(g_rgOptions) / sizeof(g_rgOptions[0]) == 33,
              "32 options and the terminator");

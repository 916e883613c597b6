#include "sdk/core/tErr.h"

namespace {

struct sErrorText {
  const char* name;
  const char* description;
};

const sErrorText sErrorTable[] = {
    {"tErrNone", "Success, no error"},
    {"tErrMemory", "Memory allocation"},
    {"tErrParam", "Invalid parameter"},
    {"tErrNotFound", "Not found"},
    {"tErrFileNameLength", "File name too long"},
    {"tErrBusy", "Resource busy"},
    {"tErrIO", "Input/Output error"},
    {"tErrMode", "Invalid Mode"},
    {"tErrWrite", "Write error"},
    {"tErrRead", "Read error"},
    {"tErrEOF", "End of file"},
    {"tErrNotReady", "Not ready, no bytes available"},
    {"tErrPermission", "Insufficient permissions"},
    {"tErrRange", "Value out of range"},
    {"tErrSize", "Invalid Size"},
    {"tErrOverrun", "Buffer/queue overrun"},
    {"tErrParse", "Parse error"},
    {"tErrConfiguration", "Configuration error"},
    {"tErrTimeout", "Timeout occurred"},
    {"tErrInitialization", "Initialization error"},
    {"tErrVersion", "Invalid version"},
    {"tErrUnimplemented", "Functionality unimplemented"},
    {"tErrDuplicate", "Duplicate request"},
    {"tErrCancel", "Cancellation occurred, or did not complete"},
    {"tErrPacket", "Packet byte invalid"},
    {"tErrConnection", "Connection error"},
    {"tErrIndexRange", "Index out of range"},
    {"tErrShortCommand", "Quillnode command to short"},
    {"tErrInvalidEntity", "Invalid entity error"},
    {"tErrInvalidOption", "Invalid option code"},
    {"tErrResource", "Resource unavailable"},
    {"tErrMedia", "Media error"},
    {"tErrAsyncReturn", "Asynchronous return error"},
    {"tErrStreamStale", "Stream value is stale"},
    {"tErrUnknown", "Unknown error"},
};

constexpr uint32_t sLastCode = sizeof(sErrorTable) / sizeof(sErrorTable[0]) - 1;
static_assert(sLastCode == tErrUnknown, "one table row per tErr code");

const sErrorText& sLookup(uint32_t code) {
  return sErrorTable[code > sLastCode ? sLastCode : code];
}

}  // namespace

const char* tError_GetErrorText(uint32_t code) { return sLookup(code).name; }

const char* tError_GetErrorDescription(uint32_t code) { return sLookup(code).description; }

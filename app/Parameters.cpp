#include "app/Parameters.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "app/CLI_Display.h"
#include "app/Log.h"
#include "app/Options.h"
#include "server/UpdateServerRequest.h"
#include "store/tDirectory.h"

namespace {

constexpr size_t sHomeDirectoryCapacity = 2048;

// Converts text made only of `digits` with `base`. 0 (end untouched) for a
// null end or a foreign character; 0 also when the value needs more than 32
// bits, which strtoull would otherwise hand back truncated.
uint32_t sStrictConvert(const char* text, char** end, const char* digits, int base) {
  if (!end || !text) return 0;
  if (strspn(text, digits) != strlen(text)) return 0;
  errno = 0;
  unsigned long long value = strtoull(text, end, base);
  if (errno == ERANGE || value > 0xFFFFFFFFull) return 0;
  return uint32_t(value);
}

bool sStartsWith(const char* text, const char* prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

bool sHasHexPrefix(const char* text) { return text[0] == '0' && (text[1] == 'x' || text[1] == 'X'); }

// -d and -r: an optional 0x prefix, then up to eight hex digits.
int sSerialArgument(CLI_Display& display, const char* value, uint32_t* out,
                    const char* prefixLog, const char* invalidMessage) {
  if (sHasHexPrefix(value)) {
    Log::log(DEBUG_Updater, "%s", prefixLog);
    value += 2;
  }
  char* end = nullptr;
  *out = _get_hex_arg(value, &end);
  if (*out == 0) {
    display.message(UpdaterDisplayInterface::Error, invalidMessage, value);
    return 1;
  }
  return 0;
}

int sTransportArgument(CLI_Display& display, const char* value, Parameters* params) {
  params->transportGiven = true;
  if (strncmp(value, "USB", 3) == 0) {
    params->transport = TRANSPORT_USB;
  } else if (strncmp(value, "TCP", 3) == 0) {
    params->transport = TRANSPORT_TCPIP;
  } else if (strncmp(value, "RECOVER", 7) == 0) {
    params->transport = TRANSPORT_RECOVER;
  } else {
    display.message(UpdaterDisplayInterface::Error,
                    "Invalid transport type:[%s]\nMust be one of the following: USB, TCPIP, RECOVER",
                    value);
    params->transport = TRANSPORT_INVALID;
    return 1;
  }
  return 0;
}

int sLogMaskArgument(CLI_Display& display, const char* option, const char* value,
                     Parameters* params) {
  params->logMaskGiven = true;
  char* end = nullptr;
  int base = sHasHexPrefix(value) ? 16 : 10;
  params->logMask = uint32_t(strtoul(value, &end, base));
  if (end && *end) {
    display.message(UpdaterDisplayInterface::Error,
                    "Invalid format for \"%s\" parameter, unprocessed characters [%s]", option, end);
    return 0;  // reported, but not a rejection
  }
  Log::ActivatePackage(params->logMask);
  return 0;
}

int sBuildArgument(CLI_Display& display, const char* value, Parameters* params) {
  char* end = nullptr;
  uint32_t build = _get_int_arg(value, &end);
  // All digits yet 0: either zeros, or a number past 32 bits that must not
  // silently turn into "latest build".
  if (build == 0 && *value && strspn(value, "0123456789") == strlen(value) &&
      strspn(value, "0") != strlen(value)) {
    display.message(UpdaterDisplayInterface::Error,
                    "Invalid build number obtained from argument [%s]", value);
    params->build = "0";
    return 1;
  }
  params->build = std::to_string(build);
  return 0;
}

int sCommandOption(CLI_Display& display, const char* text, Parameters* params) {
  switch (text[1]) {
    case 'B': params->commands.Set(CMD_LIST_BUILDS); break;
    case 'L': params->commands.Set(CMD_LIST_LOCAL); break;
    case 'D': params->commands.Set(CMD_DISCOVER); break;
    case 'G': params->commands.Set(CMD_GET_BUILD); break;
    case 'I': params->commands.Set(CMD_INFO); break;
    case 'U': params->commands.Set(CMD_UPDATE); break;
    case 'N': params->commands.Set(CMD_FINGERPRINT); break;
    case 'C': params->commands.Set(CMD_CHECK_BIRD); break;
    case 'J': params->commands.Set(CMD_GET_JWT); break;
    case 'O': params->overrideModelCheck = true; break;
    default:
      display.message(UpdaterDisplayInterface::Error, "Unhandled command: [%s]", text);
      return 1;
  }
  return 0;
}

int sParameterOption(CLI_Display& display, const char* text, char* value, Parameters* params,
                     int* serverChoices) {
  switch (text[1]) {
    case 'X': return sLogMaskArgument(display, text, value, params);
    case 'Z': params->commands.Set(CMD_Z); return 0;
    case 'm':
      params->useUEIBytes = value[0] == '1' || sStartsWith(value, "true");
      return 0;
    case 'i': params->storeDirectory = value; return 0;
    case 'f': params->birdFile = value; return 0;
    case 'k': params->logFile = value; return 0;
    case 'l': params->logMessage = value; return 0;
    case 's': params->serialPort = value; return 0;
    case 'b': return sBuildArgument(display, value, params);
    case 'd':
      return sSerialArgument(display, value, &params->serialNumber,
                             "Discarding '0x' serial number prefix\n",
                             "Invalid serial number obtained from argument [%s]");
    case 'r':
      return sSerialArgument(display, value, &params->routerSerial,
                             "Discarding '0x' router serial number prefix\n",
                             "Invalid router serial number obtained from argument [%s]");
    case 't': return sTransportArgument(display, value, params);
    case 'o': {
      char* end = nullptr;
      params->baudRate = _get_int_arg(value, &end);
      return 0;
    }
    case 'e': params->echo = true; return 0;
    case 'n': params->flagN = true; return 0;
    case 'u':
      params->updateServerURL = UpdateServerRequest::URLFromOption(value);
      ++*serverChoices;
      return 0;
    default: return 0;
  }
}

}  // namespace

uint32_t _get_hex_arg(const char* text, char** end) {
  return sStrictConvert(text, end, "0123456789ABCDEFabcdef", 16);
}

uint32_t _get_int_arg(const char* text, char** end) {
  return sStrictConvert(text, end, "0123456789", 10);
}

int _validate_params(Parameters*) { return 0; }

int _release_params(Parameters*) { return 0; }

int _get_params(CLI_Display& display, int argc, char** argv, Parameters* params) {
  *params = Parameters();
  params->updateServerURL = DefaultUpdateServerURL(false);
  if (argc > 0 && argv[0]) {
    const char* name = argv[0];
    for (const char* p = argv[0]; *p; ++p)
      if (*p == '/' || *p == '\\') name = p + 1;
    params->applicationName = name;
  }
  char home[sHomeDirectoryCapacity];
  tDirectory_GetHomeDirectory(home, sizeof home);
  params->homeDirectory = home;
  Log::log(DEBUG_APP, "Home directory:[%s]\n", home);

  int result = 0;
  int serverChoices = 0;
  CSimpleOpt scanner(argc, argv, g_rgOptions, 0);
  while (scanner.Next()) {
    if (scanner.LastError() != CSimpleOpt::ErrNone) continue;  // dropped silently
    const char* text = scanner.OptionText();
    switch (scanner.OptionId()) {
      case OPT_HELP:
        params->commands.Set(CMD_HELP);
        params->helpRequested = true;
        return 0;
      case OPT_HTTPS:
        params->updateServerURL = DefaultUpdateServerURL(true);
        ++serverChoices;
        break;
      case OPT_HTTP:
        params->updateServerURL = DefaultUpdateServerURL(false);
        ++serverChoices;
        break;
      case OPT_COMMAND:
        if (sCommandOption(display, text, params)) result = 1;
        break;
      case OPT_PARAMETER:
        if (sParameterOption(display, text, scanner.OptionArg(), params, &serverChoices))
          result = 1;
        break;
    }
  }

  if (serverChoices > 1) {
    display.message(UpdaterDisplayInterface::Error,
                    "Multiple update server URLs specified. Choose one of: --https, --http, or -U "
                    "<host:port>.");
    result = 1;
  }

  Log::log(DEBUG_APP, "\nApplication parameters:[%s]\n", params->applicationName.c_str());
  for (int i = 0; i < argc; ++i) Log::log(DEBUG_APP, "\t[%s]\n", argv[i]);

  if (result == 0) result = _validate_params(params);
  return result;
}

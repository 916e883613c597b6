// Every answer parser of the query protocol over arbitrary bodies, and the
// build-list order over whatever list the parser produced.
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <string>

#include "server/UpdateServerRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  using USR = UpdateServerRequest;
  USR::ParsePing(body);
  std::string build, version, bird, token;
  USR::ParseQueryBuild(body, build, version);
  USR::ParseGetBuild(body, bird);
  uint32_t serial = 0, recoveryBuild = 0;
  USR::ParseRecoveryInfo(body, &serial, &recoveryBuild);
  if (USR::ParseDeviceJWT(body, token) && std::count(token.begin(), token.end(), '.') < 2)
    __builtin_trap();
  std::map<std::string, std::string> builds;
  USR::ParseBuildList(body, builds);
  std::vector<USR::BuildEntry> sorted = USR::SortBuildsByVersion(builds);
  if (sorted.size() != builds.size() ||
      !std::is_sorted(sorted.begin(), sorted.end(), USR::_sortVersion))
    __builtin_trap();
  return 0;
}

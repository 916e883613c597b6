// The order of build lists: newest version first.
//
// A comparator that calls every unreadable version "equal to all others"
// is no strict weak ordering (equivalence would not be transitive), and
// std::sort may then read outside the range. So each entry gets a full key:
// readable versions before unreadable ones, then the version, then the build
// number, all descending.
#include <stdlib.h>

#include <algorithm>
#include <stdexcept>
#include <tuple>

#include "app/Log.h"
#include "server/UpdateServerRequest.h"

namespace {

struct sOrderKey {
  bool readable = false;
  int major = 0, minor = 0, patch = 0;
  bool numericBuild = false;
  unsigned long long build = 0;
  std::string buildText;

  auto tied() const {
    return std::tie(readable, major, minor, patch, numericBuild, build, buildText);
  }
};

sOrderKey sKey(const UpdateServerRequest::BuildEntry& entry) {
  sOrderKey key;
  std::vector<std::string> parts = UpdateServerRequest::SplitQuillnodeVersion(entry.second);
  if (parts.size() == 3) {
    try {
      key.major = std::stoi(parts[0]);
      key.minor = std::stoi(parts[1]);
      key.patch = std::stoi(parts[2]);
      key.readable = true;
    } catch (const std::exception& e) {
      Log::log(DEBUG_ServerComm, "%s: Exception converting version: %s\n", "_sortVersion",
               e.what());
      key.major = key.minor = key.patch = 0;
    }
  }
  const std::string& b = entry.first;
  key.numericBuild = !b.empty() && b.size() <= 19 &&
                     b.find_first_not_of("0123456789") == std::string::npos;
  if (key.numericBuild) key.build = strtoull(b.c_str(), nullptr, 10);
  key.buildText = b;
  return key;
}

}  // namespace

std::vector<std::string> UpdateServerRequest::SplitQuillnodeVersion(std::string version) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t dot = version.find('.', start);
    parts.push_back(version.substr(start, dot == std::string::npos ? std::string::npos
                                                                     : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (parts.size() != 3) parts.clear();
  return parts;
}

bool UpdateServerRequest::_sortVersion(const BuildEntry& a, const BuildEntry& b) {
  return sKey(a).tied() > sKey(b).tied();
}

std::vector<UpdateServerRequest::BuildEntry> UpdateServerRequest::SortBuildsByVersion(
    const std::map<std::string, std::string>& builds) {
  std::vector<std::pair<sOrderKey, BuildEntry>> keyed;
  keyed.reserve(builds.size());
  for (const auto& entry : builds) keyed.emplace_back(sKey(entry), entry);
  std::sort(keyed.begin(), keyed.end(),
            [](const auto& a, const auto& b) { return a.first.tied() > b.first.tied(); });
  std::vector<BuildEntry> sorted;
  sorted.reserve(keyed.size());
  for (auto& k : keyed) sorted.push_back(std::move(k.second));
  return sorted;
}

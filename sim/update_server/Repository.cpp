#include "sim/update_server/Repository.h"

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "sim/update_server/BirdDescription.h"

namespace fs = std::filesystem;

namespace qnsim {
namespace {

std::optional<std::string> sFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

bool sDigits(const std::string& text, size_t maxLength) {
  return !text.empty() && text.size() <= maxLength &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

bool Repository::IsSerialText(const std::string& text) {
  return text.size() == 8 && text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

std::string Repository::DeviceDir(const std::string& serial) const {
  return root_ + "/devices/" + serial;
}

bool Repository::HasDevice(const std::string& serial) const {
  std::error_code ec;
  return IsSerialText(serial) && fs::is_directory(DeviceDir(serial), ec);
}

std::map<uint32_t, Build> Repository::Builds(const std::string& serial) const {
  std::map<uint32_t, Build> builds;
  if (!HasDevice(serial)) return builds;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(DeviceDir(serial), ec)) {
    const std::string name = entry.path().filename().string();
    const std::string stem = entry.path().stem().string();
    if (entry.path().extension() != ".bird" || !sDigits(stem, 9) || !entry.is_regular_file(ec))
      continue;
    Build b;
    b.path = entry.path().string();
    b.version = BirdVersion(b.path);
    builds[uint32_t(strtoul(stem.c_str(), nullptr, 10))] = b;
  }
  return builds;
}

std::optional<uint32_t> Repository::Latest(const std::string& serial) const {
  if (!HasDevice(serial)) return std::nullopt;
  std::optional<std::string> pinned = sFirstLine(DeviceDir(serial) + "/latest");
  if (pinned && sDigits(*pinned, 9)) return uint32_t(strtoul(pinned->c_str(), nullptr, 10));
  std::map<uint32_t, Build> builds = Builds(serial);
  if (builds.empty()) return std::nullopt;
  return builds.rbegin()->first;
}

std::optional<std::string> Repository::Token(const std::string& serial) const {
  if (!HasDevice(serial)) return std::nullopt;
  return sFirstLine(DeviceDir(serial) + "/token");
}

std::optional<RecoveryImage> Repository::Recovery(const uint32_t fingerprint[4]) const {
  char name[40];
  snprintf(name, sizeof name, "%08X-%08X-%08X-%08X", fingerprint[0], fingerprint[1],
           fingerprint[2], fingerprint[3]);
  std::optional<std::string> line = sFirstLine(root_ + "/recovery/" + name);
  if (!line) return std::nullopt;
  unsigned serial = 0, build = 0;
  if (sscanf(line->c_str(), "%x %u", &serial, &build) != 2) return std::nullopt;
  RecoveryImage image;
  image.serial = serial;
  image.build = build;
  return image;
}

}  // namespace qnsim

// A firmware repository directory, read afresh on every question so that a
// mirror can be updated while it runs.
//
//   REPO/devices/SSSSSSSS/NNN.bird   build NNN for device SSSSSSSS (8 upper-case
//                                    hex digits); its version comes from the
//                                    file's description block
//   REPO/devices/SSSSSSSS/latest     optional: the build answered as the latest
//                                    (default: the highest build number)
//   REPO/devices/SSSSSSSS/token      optional: the device's feature token,
//                                    header.payload.signature on one line
//   REPO/recovery/AAAAAAAA-BBBBBBBB-CCCCCCCC-DDDDDDDD
//                                    a chip fingerprint's recovery image: one
//                                    line "SERIAL BUILD" (hex serial, decimal
//                                    build) naming a build under devices/
#pragma once

#include <stdint.h>

#include <map>
#include <optional>
#include <string>

namespace qnsim {

struct Build {
  std::string path;
  std::string version;
};

struct RecoveryImage {
  uint32_t serial = 0;
  uint32_t build = 0;
};

class Repository {
 public:
  explicit Repository(std::string root) : root_(std::move(root)) {}
  const std::string& root() const { return root_; }

  // Serial numbers and fingerprints are checked for their exact form first,
  // so no request can name a path outside the repository.
  bool HasDevice(const std::string& serial) const;
  std::map<uint32_t, Build> Builds(const std::string& serial) const;
  std::optional<uint32_t> Latest(const std::string& serial) const;
  std::optional<std::string> Token(const std::string& serial) const;
  std::optional<RecoveryImage> Recovery(const uint32_t fingerprint[4]) const;

  static bool IsSerialText(const std::string& text);

 private:
  std::string DeviceDir(const std::string& serial) const;
  std::string root_;
};

}  // namespace qnsim

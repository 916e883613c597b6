// Reads the version text out of a BIRD file's description block, so that a
// repository needs nothing beside the files themselves.
#pragma once

#include <string>

namespace qnsim {

// The version field of the first description block, cut at its first space;
// empty when the file cannot be read, decompressed or has no description.
std::string BirdVersion(const std::string& path);

}  // namespace qnsim

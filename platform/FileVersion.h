// The fixed file version of an executable (the host's), read without running it.
#pragma once

#include <cstdint>
#include <string>

namespace udra::platform {

// The four parts of the version, most significant first (major, minor, patch,
// build); false when the file has no readable version.
bool ReadFileVersion(const std::string& path, uint16_t version[4]);

}  // namespace udra::platform

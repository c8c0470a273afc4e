// Names in this tool are UTF-8 text; these turn them into file-system paths
// and back. A plain std::string converts through the system's narrow
// encoding instead (the ANSI code page on Windows), which would garble any
// name outside it.
#pragma once

#include <filesystem>
#include <string>

namespace udra::publish {

inline std::filesystem::path PathOf(const std::string& utf8) { return std::filesystem::u8path(utf8); }
inline std::string TextOf(const std::filesystem::path& path) { return path.u8string(); }

}  // namespace udra::publish

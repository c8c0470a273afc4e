// Removes from a content tree the stored files no kept catalogue names.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_set>
#include <vector>

namespace udra::publish {

struct PruneResult {
  size_t files = 0;
  uint64_t bytes = 0;
  size_t folders = 0;
  std::vector<std::string> removed;  // below the root, slash separators; folders end in '/'
};

// Removes every regular file below `root` whose path (slash separators,
// ASCII letters in lower case) is not in `keep`, then the folders this
// leaves empty. Links and special files are left alone and linked folders
// are not entered. False with `error` on the first removal that fails; what
// was removed until then is in `result`.
bool Prune(const std::filesystem::path& root, const std::unordered_set<std::string>& keep,
           PruneResult& result, std::string& error);

}  // namespace udra::publish

#include "Pruner.h"

#include <set>
#include <system_error>

#include "PreviousVersion.h"
#include "Utf8Path.h"

namespace fs = std::filesystem;

namespace udra::publish {
namespace {

// Deepest folders first, so a parent is looked at after its children.
struct DeeperFirst {
  bool operator()(const fs::path& a, const fs::path& b) const {
    const size_t da = size_t(std::distance(a.begin(), a.end()));
    const size_t db = size_t(std::distance(b.begin(), b.end()));
    return da != db ? da > db : a < b;
  }
};

}  // namespace

bool Prune(const fs::path& root, const std::unordered_set<std::string>& keep, PruneResult& result,
           std::string& error) {
  // Gather first, remove afterwards: the walk never sees its own removals.
  std::vector<std::pair<fs::path, std::string>> doomed;
  std::error_code ec;
  fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::file_status status = it->symlink_status(ec);
    if (ec) break;
    if (!fs::is_regular_file(status)) continue;
    const std::string relative = it->path().lexically_relative(root).generic_u8string();
    if (keep.count(FoldCase(relative)) == 0) doomed.emplace_back(it->path(), relative);
  }
  if (ec) {
    error = "cannot read the content tree: " + ec.message();
    return false;
  }
  std::set<fs::path, DeeperFirst> folders;
  for (const auto& [path, relative] : doomed) {
    std::error_code sizeError;
    const uint64_t size = fs::file_size(path, sizeError);
    if (!fs::remove(path, ec) || ec) {
      error = "cannot remove " + TextOf(path) + (ec ? ": " + ec.message() : "");
      return false;
    }
    ++result.files;
    result.bytes += sizeError ? 0 : size;
    result.removed.push_back(relative);
    folders.insert(path.parent_path());
  }
  while (!folders.empty()) {
    const fs::path folder = *folders.begin();
    folders.erase(folders.begin());
    // Only folders strictly below the root, however the root was spelt.
    const fs::path relative = folder.lexically_relative(root);
    if (relative.empty() || relative == "." || *relative.begin() == "..") continue;
    if (!fs::is_directory(fs::symlink_status(folder, ec)) || !fs::is_empty(folder, ec) || ec) {
      continue;
    }
    if (!fs::remove(folder, ec)) continue;  // something was put there meanwhile
    ++result.folders;
    result.removed.push_back(relative.generic_u8string() + "/");
    folders.insert(folder.parent_path());
  }
  return true;
}

}  // namespace udra::publish

#include "util/Paths.h"

#include "platform/FileSystem.h"
#include "platform/Module.h"
#include "util/Md5.h"

namespace udra {

std::string ModulePath() {
  static const int anchor = 0;  // any address inside this library
  return platform::ModulePathOf(&anchor);
}

bool ModuleFolder(std::string& folder) {
  const std::string path = ModulePath();
  if (path.empty()) return false;
  const std::string parent = ParentFolder(path);
  if (parent.empty()) return false;
  folder = parent;
  return true;
}

std::string ToNativePath(std::string_view logical) {
  std::string out(logical);
  const char sep = platform::PathSeparator();
  for (char& c : out)
    if (c == '\\' || c == '/') c = sep;
  return out;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string tail = ToNativePath(name);
  if (folder.empty()) return tail;
  std::string out(folder);
  const bool folderEnds = platform::IsPathSeparator(out.back());
  const bool nameStarts = !tail.empty() && platform::IsPathSeparator(tail.front());
  if (folderEnds && nameStarts)
    out.pop_back();
  else if (!folderEnds && !nameStarts)
    out += platform::PathSeparator();
  return out + tail;
}

static size_t LastSeparator(std::string_view path) {
  for (size_t i = path.size(); i-- > 0;)
    if (platform::IsPathSeparator(path[i])) return i;
  return std::string_view::npos;
}

std::string ParentFolder(std::string_view path) {
  const size_t at = LastSeparator(path);
  return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at));
}

std::string FileNameOf(std::string_view path) {
  const size_t at = LastSeparator(path);
  return std::string(at == std::string_view::npos ? path : path.substr(at + 1));
}

std::string InstanceKeyOf(std::string_view folder) {
  auto trimmed = [](char c) { return c == '\\' || c == '/' || c == ' ' || c == '"' || c == '\''; };
  size_t begin = 0, end = folder.size();
  while (begin < end && trimmed(folder[begin])) ++begin;
  while (end > begin && trimmed(folder[end - 1])) --end;
  std::string lower(folder.substr(begin, end - begin));
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return Md5::HexDigest(lower.data(), lower.size());
}

std::string InstanceKey() {
  std::string folder;
  if (!ModuleFolder(folder)) folder.clear();
  return InstanceKeyOf(folder);
}

std::string ShareStateKey() {
  std::string folder;
  if (!ModuleFolder(folder)) folder = "None";
  return InstanceKeyOf(folder);
}

}  // namespace udra

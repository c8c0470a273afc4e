// Writing a catalogued file out below "UDRADownload".
#include <memory>
#include <new>

#include "core/ResourceManager.h"
#include "platform/FileSystem.h"
#include "resources/PathRules.h"
#include "util/Paths.h"

namespace udra {
namespace {

// Calls `visit` with each backslash-separated component of a normalised key;
// the second byte of a two-byte character is no separator. Stops at the first
// visit that returns true and returns true then.
template <typename Visit>
bool AnyComponent(std::string_view key, Visit visit) {
  size_t begin = 0;
  for (size_t i = 0; i <= key.size();) {
    if (i == key.size() || key[i] == '\\') {
      if (visit(key.substr(begin, i - begin))) return true;
      begin = ++i;
      continue;
    }
    i += PathCharLength(key, i);
  }
  return false;
}

// A key that would still leave the destination folder: a ".." component, an
// absolute path or a drive (or a Windows stream name).
bool ClimbsOut(std::string_view key) {
  if (key.empty() || key.front() == '\\' || key.find(':') != std::string_view::npos) return true;
  return AnyComponent(key, [](std::string_view part) { return part == ".."; });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i], b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = char(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// The store's own files and folders live at the top of "UDRADownload" beside
// the extracted files: the database and its journal, WAL and shm files, the
// folder of large entries and the damage marker (all "ZAV."...), the host's
// partial downloads ("HostTemp") and the use record ("ResUseRec.db"). An
// extracted file must never replace one of them, or the next start would find
// the store damaged and rebuild it empty. Names are compared without letter
// case on every platform (the folder may be on a case-insensitive disk), and
// as Windows would resolve them: trailing dots and blanks dropped, and a "~"
// anywhere, which could be the short 8.3 alias of one of them, refused.
bool NamesStoreFile(std::string_view key) {
  std::string_view first = key.substr(0, key.find('\\'));
  while (!first.empty() && (first.back() == '.' || first.back() == ' ')) first.remove_suffix(1);
  return StartsWithNoCase(first, "ZAV.") || StartsWithNoCase(first, "ResUseRec.db") || StartsWithNoCase(first, "HostTemp") ||
         first.find('~') != std::string_view::npos;
}

// The key as a path below `folder`, with the platform's separator, and the
// folder that will hold it. Done here rather than by JoinPath and ParentFolder
// so that the second byte of a two-byte character stays what it is.
std::string DestinationOf(const std::string& folder, std::string_view key, std::string& parent) {
  std::string path = folder;
  if (!path.empty() && !platform::IsPathSeparator(path.back())) path += platform::PathSeparator();
  parent = path.substr(0, path.size() - 1);
  for (size_t i = 0; i < key.size();) {
    const size_t n = PathCharLength(key, i);
    if (n == 1 && key[i] == '\\') {
      parent = path;
      path += platform::PathSeparator();
    } else {
      path.append(key.data() + i, n);
    }
    i += n;
  }
  return path;
}

}  // namespace

// The destination is always inside "UDRADownload" and never one of the
// store's own files: a catalogued name that still climbs out after
// normalisation, is absolute, or names a store file is refused. The path is
// looked up as every lookup does it, so "\Data\a.txt" and "/Data/a.txt" are
// "Data\a.txt".
bool ResourceManager::ExtractFile(const char* path) {
  const NormalPath p = NormalizePath(path);
  std::string_view keyView;
  if (p.cut() || !CatalogueKey(p.view(), keyView)) return false;
  const std::string key(keyView);
  int32_t size = 0;
  if (!QueryFileSize(key.c_str(), &size)) return false;
  if (size == 0) return true;
  if (ClimbsOut(key) || NamesStoreFile(key)) return false;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size_t(size)]);
  if (!buffer) return false;
  const int32_t handle = OpenFile(key.c_str(), "r");
  if (handle == -1) return false;
  uint32_t read = uint32_t(size);
  const bool ok = ReadOpenFile(handle, buffer.get(), &read, 0);
  CloseFile(handle);
  if (!ok) return false;
  std::string folder;
  if (!ModuleFolder(folder)) return false;
  std::string parent;
  const std::string destination = DestinationOf(JoinPath(folder, "UDRADownload"), key, parent);
  if (!parent.empty() && !platform::MakeDirectories(parent)) return false;
  return platform::WriteWholeFile(destination, buffer.get(), read);
}

}  // namespace udra

// Writing a catalogued file out below "UDRADownload".
#include <memory>
#include <new>

#include "core/ResourceManager.h"
#include "platform/FileSystem.h"
#include "resources/PathRules.h"
#include "util/Paths.h"

namespace udra {
namespace {

// A normalised name that would still leave the destination folder: a ".."
// component, an absolute path or a drive.
bool ClimbsOut(std::string_view path) {
  if (path.empty() || path.front() == '\\' || path.find(':') != std::string_view::npos) return true;
  size_t begin = 0;
  while (begin <= path.size()) {
    size_t end = path.find('\\', begin);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(begin, end - begin) == "..") return true;
    begin = end + 1;
  }
  return false;
}

}  // namespace

// The destination is always inside "UDRADownload": a catalogued name that
// still climbs out after normalisation, or is absolute, is refused.
bool ResourceManager::ExtractFile(const char* path) {
  const NormalPath p = NormalizePath(path);
  int32_t size = 0;
  if (!QueryFileSize(p.c_str(), &size)) return false;
  if (size == 0) return true;
  if (ClimbsOut(p.view())) return false;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size_t(size)]);
  if (!buffer) return false;
  const int32_t handle = OpenFile(p.c_str(), "r");
  if (handle == -1) return false;
  uint32_t read = uint32_t(size);
  const bool ok = ReadOpenFile(handle, buffer.get(), &read, 0);
  CloseFile(handle);
  if (!ok) return false;
  std::string folder;
  if (!ModuleFolder(folder)) return false;
  const std::string destination = JoinPath(JoinPath(folder, "UDRADownload"), p.view());
  const std::string parent = ParentFolder(destination);
  if (!parent.empty() && !platform::MakeDirectories(parent)) return false;
  return platform::WriteWholeFile(destination, buffer.get(), read);
}

}  // namespace udra

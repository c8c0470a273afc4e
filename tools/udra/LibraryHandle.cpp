#include "LibraryHandle.h"

#include "platform/FileSystem.h"

namespace udra::tool {

LibraryHandle::~LibraryHandle() {
  if (manager_) {
    auto release = reinterpret_cast<UDRA_ReleaseResourceManagerFn>(Symbol("ReleaseResourceManager"));
    if (release) release(manager_);
  }
  // The library stays loaded until the process ends, as in a game: it keeps
  // process-wide state (the message system, the codec binding) that threads
  // and exit handlers may still reach.
}

const char* LibraryHandle::FileName() { return UDRA_LIBRARY_FILE; }

bool LibraryHandle::Open(const std::string& folder, std::string& error) {
  const std::string path = folder + platform::PathSeparator() + FileName();
  if (!platform::FileExists(path)) {
    error = std::string("no ") + FileName() + " in " + folder;
    return false;
  }
  module_ = platform::LoadModule(path);
  if (!module_) {
    error = "cannot load " + path;
    return false;
  }
  auto get = reinterpret_cast<UDRA_GetResourceManagerFn>(Symbol("GetResourceManager"));
  manager_ = get ? get() : nullptr;
  if (!manager_) {
    error = "GetResourceManager failed";
    return false;
  }
  return true;
}

}  // namespace udra::tool

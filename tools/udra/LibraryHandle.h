// The library loaded from an installation folder the way a game loads it:
// by path, then GetResourceManager.
#pragma once

#include <string>

#include "platform/Module.h"
#include "udra/IResourceManager.h"

namespace udra::tool {

class LibraryHandle {
 public:
  LibraryHandle() = default;
  ~LibraryHandle();
  LibraryHandle(const LibraryHandle&) = delete;
  LibraryHandle& operator=(const LibraryHandle&) = delete;

  // The library's file name on this system ("libUDRAClient.so" on Linux,
  // "UDRAClient.dll" on Windows; the build defines it).
  static const char* FileName();
  // Loads the library from `folder` and gets the manager; on failure `error`
  // says why.
  bool Open(const std::string& folder, std::string& error);
  IResourceManager* manager() const { return manager_; }
  void* Symbol(const char* name) const { return platform::ModuleSymbol(module_, name); }

 private:
  platform::ModuleHandle module_ = nullptr;
  IResourceManager* manager_ = nullptr;
};

}  // namespace udra::tool

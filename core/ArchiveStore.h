// The archive store as the manager uses it: "ZAV.dll" loaded from the
// library's folder, the store object it hands out, and the reads the content
// decoder needs.
#pragma once

#include <cstdint>
#include <string>

#include "core/IZav.h"
#include "platform/Module.h"
#include "resources/ContentDecoder.h"

namespace udra {

class ArchiveStore : public IEntryReader {
 public:
  ArchiveStore() = default;
  ~ArchiveStore() override;
  ArchiveStore(const ArchiveStore&) = delete;
  ArchiveStore& operator=(const ArchiveStore&) = delete;

  // Loads "ZAV.dll" from `folder`; false when it cannot be loaded.
  bool LoadModule(const std::string& folder);
  // Gets the store object from the module's GetZAV; false when there is none.
  bool AcquireStore();
  // Closes the store, gives the object back to ReleaseZAV and frees the
  // module. False, with everything kept, when the store refuses to close.
  bool CloseAndRelease();

  bool moduleLoaded() const { return module_ != nullptr; }
  IZav* zav() const { return zav_; }

  bool HasEntry(const std::string& name) const { return zav_ && zav_->HasEntry(name.c_str()); }

  // IEntryReader
  int32_t OpenEntry(const char* name, int32_t mode, int32_t reserved) override;
  int32_t GetEntrySize(int32_t handle) override;
  bool ReadEntry(int32_t handle, void* buffer, uint32_t* inoutSize) override;

 private:
  platform::ModuleHandle module_ = nullptr;
  IZav* zav_ = nullptr;
};

}  // namespace udra

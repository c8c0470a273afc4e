// The archive store as the manager uses it: "ZAV.dll" loaded from the
// library's folder, the store object it hands out, and the reads the content
// decoder needs, and the store's digest extension when it has one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/IZav.h"
#include "core/IZavDigests.h"
#include "platform/Module.h"
#include "resources/ContentDecoder.h"
#include "resources/EntryChecks.h"

namespace udra {

class ArchiveStore : public IEntryReader, public IEntryDigests {
 public:
  ArchiveStore() = default;
  ~ArchiveStore() override;
  ArchiveStore(const ArchiveStore&) = delete;
  ArchiveStore& operator=(const ArchiveStore&) = delete;

  // Loads "ZAV.dll" from `folder`; false when it cannot be loaded.
  bool LoadModule(const std::string& folder);
  // Gets the store object from the module's GetZAV; false when there is none.
  // Its digest extension is taken too when the module exports GetZAVDigests.
  bool AcquireStore();
  // Closes the store, gives the object back to ReleaseZAV and frees the
  // module. False, with everything kept, when the store refuses to close.
  bool CloseAndRelease();

  bool moduleLoaded() const { return module_ != nullptr; }
  IZav* zav() const { return zav_; }
  // The store's digest operations, null for a store without the extension.
  IEntryDigests* digests() { return ext_ ? this : nullptr; }

  bool HasEntry(const std::string& name) const { return zav_ && zav_->HasEntry(name.c_str()); }

  // IEntryReader
  int32_t OpenEntry(const char* name, int32_t mode, int32_t reserved) override;
  int32_t GetEntrySize(int32_t handle) override;
  bool ReadEntry(int32_t handle, void* buffer, uint32_t* inoutSize) override;
  // Only a store with the digest extension is one of this project's, whose
  // slot 15 is the ranged read; the slot of a store of the original kind is
  // never called.
  bool ReadsRanges() const override { return zav_ && ext_; }
  Range ReadRange(int32_t handle, uint32_t offset, void* buffer, uint32_t size) override;

  // IEntryDigests
  bool ListDigests(DigestVisit visit, void* context) override;
  bool RemoveEntries(const std::vector<std::string>& names) override;
  // Writes only when the store does not know the entry's digest yet.
  bool SetEntryDigest(const std::string& name, int32_t size, const std::string& digest) override;

 private:
  platform::ModuleHandle module_ = nullptr;
  IZav* zav_ = nullptr;
  IZavDigests* ext_ = nullptr;
};

}  // namespace udra

#include "core/ArchiveStore.h"

#include "util/Paths.h"

namespace udra {

ArchiveStore::~ArchiveStore() {
  // Uninitialize normally releases the store; a manager destroyed without it
  // still gives the object back before the module goes.
  if (zav_) {
    auto release = reinterpret_cast<ReleaseZavFn>(platform::ModuleSymbol(module_, kReleaseZavExport));
    if (release) release(zav_);
  }
  platform::FreeModule(module_);
}

bool ArchiveStore::LoadModule(const std::string& folder) {
  if (!module_) module_ = platform::LoadModule(JoinPath(folder, kZavModuleName));
  return module_ != nullptr;
}

bool ArchiveStore::AcquireStore() {
  auto get = reinterpret_cast<GetZavFn>(platform::ModuleSymbol(module_, kGetZavExport));
  zav_ = get ? get() : nullptr;
  return zav_ != nullptr;
}

bool ArchiveStore::CloseAndRelease() {
  if (!module_) return true;
  if (zav_) {
    if (!zav_->Close()) return false;
    auto release = reinterpret_cast<ReleaseZavFn>(platform::ModuleSymbol(module_, kReleaseZavExport));
    if (release) release(zav_);
    zav_ = nullptr;
  }
  platform::FreeModule(module_);
  module_ = nullptr;
  return true;
}

int32_t ArchiveStore::OpenEntry(const char* name, int32_t mode, int32_t reserved) {
  return zav_ ? zav_->OpenEntry(name, mode, reserved) : -1;
}

int32_t ArchiveStore::GetEntrySize(int32_t handle) { return zav_ ? zav_->GetEntrySize(handle) : -1; }

bool ArchiveStore::ReadEntry(int32_t handle, void* buffer, uint32_t* inoutSize) {
  return zav_ && zav_->ReadEntry(handle, buffer, inoutSize);
}

}  // namespace udra

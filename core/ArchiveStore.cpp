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
  auto extension = reinterpret_cast<GetZavDigestsFn>(platform::ModuleSymbol(module_, kGetZavDigestsExport));
  ext_ = zav_ && extension ? extension(zav_) : nullptr;
  // An extension of another version has other slots: it is not used.
  if (ext_ && ext_->GetVersion() != kZavDigestsVersion) ext_ = nullptr;
  return zav_ != nullptr;
}

bool ArchiveStore::CloseAndRelease() {
  if (!module_) return true;
  if (zav_) {
    if (!zav_->Close()) return false;
    auto release = reinterpret_cast<ReleaseZavFn>(platform::ModuleSymbol(module_, kReleaseZavExport));
    if (release) release(zav_);
    zav_ = nullptr;
    ext_ = nullptr;
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

IEntryReader::Range ArchiveStore::ReadRange(int32_t handle, uint32_t offset, void* buffer, uint32_t size) {
  if (!ReadsRanges()) return Range::kFailed;
  uint32_t delivered = size;
  if (zav_->ReadEntryAt(handle, offset, buffer, &delivered)) return delivered == size ? Range::kRead : Range::kFailed;
  return zav_->GetErrorCode(kZavLastError) == kZavErrChanged ? Range::kChanged : Range::kFailed;
}

}  // namespace udra

namespace udra {

bool ArchiveStore::ListDigests(DigestVisit visit, void* context) {
  if (!ext_) return false;
  struct Forward {
    DigestVisit visit;
    void* context;
  } forward{visit, context};
  return ext_->ListDigests(
             [](void* c, const char* name, int32_t size, const char* digest) {
               auto* f = static_cast<Forward*>(c);
               f->visit(f->context, name, size, digest);
               return true;
             },
             &forward) >= 0;
}

bool ArchiveStore::RemoveEntries(const std::vector<std::string>& names) {
  if (!ext_) return false;
  std::vector<const char*> pointers;
  pointers.reserve(names.size());
  for (const std::string& name : names) pointers.push_back(name.c_str());
  return ext_->RemoveEntries(pointers.data(), uint32_t(pointers.size()));
}

bool ArchiveStore::SetEntryDigest(const std::string& name, int32_t size, const std::string& digest) {
  if (!ext_) return false;
  const char* names[1] = {name.c_str()};
  int32_t sizes[1] = {-1};
  ZavDigestText known[1];
  if (!ext_->GetEntryDigests(names, 1, sizes, known) || sizes[0] != size) return false;
  if (known[0].text[0] != '\0') return true;
  return ext_->SetEntryDigest(name.c_str(), size, digest.c_str());
}

}  // namespace udra

#include "host/StoreLink.h"

#include "util/Paths.h"

namespace udra::host {

StoreLink::~StoreLink() {
  if (zav_) {
    zav_->Close();
    release_(zav_);
  }
  platform::FreeModule(module_);
}

bool StoreLink::Load(const std::string& folder, uint32_t reservedSize) {
  module_ = platform::LoadModule(JoinPath(folder, kZavModuleName));
  if (!module_) return false;
  auto get = reinterpret_cast<GetZavFn>(platform::ModuleSymbol(module_, kGetZavExport));
  release_ = reinterpret_cast<ReleaseZavFn>(platform::ModuleSymbol(module_, kReleaseZavExport));
  if (!get || !release_) return false;
  zav_ = get();
  if (!zav_) return false;
  auto extension = reinterpret_cast<GetZavDigestsFn>(platform::ModuleSymbol(module_, kGetZavDigestsExport));
  digests_ = extension ? extension(zav_) : nullptr;
  if (digests_ && digests_->GetVersion() != kZavDigestsVersion) digests_ = nullptr;
  storeFolder_ = JoinPath(folder, kZavFolderName);
  reservedSize_ = reservedSize;
  Reopen();
  return true;
}

// The library normally creates the store; the host creates it only when
// there is none. A store that exists but does not open is left to the
// library, which rebuilds it: the host never replaces a store.
bool StoreLink::Reopen() {
  if (!zav_) return false;
  if (open_) return true;
  std::lock_guard<std::mutex> lock(openMu_);
  if (open_) return true;
  const char* path = storeFolder_.c_str();
  if (zav_->Exists(path))
    open_ = zav_->Load(path);
  else
    open_ = zav_->Create(path, kZavCreateNew, reservedSize_);
  return open_;
}

}  // namespace udra::host

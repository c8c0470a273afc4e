// The archive store as the host uses it: "ZAV.dll" loaded from the host's
// folder, the store "UDRADownload" opened (or created when there is none).
// The store object may be called from several threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/IZav.h"
#include "core/IZavDigests.h"
#include "platform/Module.h"

namespace udra::host {

class StoreLink {
 public:
  StoreLink() = default;
  ~StoreLink();
  StoreLink(const StoreLink&) = delete;
  StoreLink& operator=(const StoreLink&) = delete;

  // Loads the module from `folder` and opens the store below it. False when
  // the module or its exports are missing; a store that cannot be opened
  // leaves the object loaded with isOpen() false (Reopen tries again).
  bool Load(const std::string& folder, uint32_t reservedSize);
  bool Reopen();
  bool isOpen() const { return open_; }
  IZav* store() const { return zav_; }
  // The store's digest extension; null for a store without one, which then
  // gets no digests and is asked for sizes only.
  IZavDigests* digests() const { return digests_; }
  const std::string& storeFolder() const { return storeFolder_; }

 private:
  platform::ModuleHandle module_ = nullptr;
  ReleaseZavFn release_ = nullptr;
  IZav* zav_ = nullptr;
  IZavDigests* digests_ = nullptr;
  std::mutex openMu_;  // Reopen runs on the engine's and the store writer's threads
  std::atomic<bool> open_{false};
  std::string storeFolder_;
  uint32_t reservedSize_ = 0;
};

}  // namespace udra::host

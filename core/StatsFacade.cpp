#include "core/StatsFacade.h"

#include "util/Paths.h"

namespace udra {

bool StatsFacade::Load(const std::string& folder) {
  if (module_) return false;
  module_ = platform::LoadModule(JoinPath(folder, kStatsModuleName));
  if (!module_) return false;
  auto get = reinterpret_cast<GetUDRAStatsFn>(platform::ModuleSymbol(module_, kGetStatsExport));
  // Looked up now so that Unload needs nothing from the module but the call.
  release_ = reinterpret_cast<ReleaseUDRAStatsFn>(platform::ModuleSymbol(module_, kReleaseStatsExport));
  stats_ = get ? get() : nullptr;
  if (!stats_) {
    Unload();
    return false;
  }
  return stats_->StartStats();
}

void StatsFacade::Unload() {
  if (stats_) {
    stats_->StopStats();
    if (release_) release_(stats_);
    stats_ = nullptr;
  }
  release_ = nullptr;
  if (module_) {
    platform::FreeModule(module_);
    module_ = nullptr;
  }
}

void StatsFacade::SetHostValue2(int32_t value) {
  if (stats_) stats_->SetHostValue2(value);
}

void StatsFacade::SetHostValue1(int32_t value) {
  if (stats_) stats_->SetHostValue1(value);
}

void StatsFacade::FileRequested(const std::string& name, int32_t packedSize, int32_t priority) {
  if (stats_) stats_->FileRequested(name.c_str(), packedSize, priority);
}

void StatsFacade::FileDone(const std::string& name, int32_t reportedSize, uint32_t elapsedMs, int32_t priority) {
  if (stats_) stats_->FileDone(name.c_str(), reportedSize, elapsedMs, priority);
}

void StatsFacade::FileFailed(const std::string& name, int32_t reportedSize, uint32_t errorValue,
                             const std::string& text, int32_t priority) {
  if (stats_) stats_->FileFailed(name.c_str(), reportedSize, errorValue, text.c_str(), priority);
}

void StatsFacade::FileCancelled(const std::string& name, int32_t priority) {
  if (stats_) stats_->FileCancelled(name.c_str(), priority);
}

}  // namespace udra

#include "resources/SyncProgress.h"

#include <algorithm>
#include <utility>

namespace udra {

SyncProgress::Folder& SyncProgress::Keep(int32_t syncId, uint64_t generation, std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  if (folders_.size() >= kKeptFolders && folders_.find(syncId) == folders_.end()) {
    auto oldest = folders_.begin();
    for (auto it = folders_.begin(); it != folders_.end(); ++it)
      if (it->second.lastUse < oldest->second.lastUse) oldest = it;
    folders_.erase(oldest);
  }
  Folder& folder = folders_[syncId];
  folder.generation = generation;
  folder.lastUse = ++uses_;
  folder.state.assign(names.size(), Name{});
  folder.names = std::move(names);
  return folder;
}

void SyncProgress::Begin(int32_t syncId, uint64_t generation, std::vector<std::string> names,
                         const std::function<bool(const std::string&)>& requested) {
  Folder& folder = Keep(syncId, generation, std::move(names));
  for (size_t i = 0; i < folder.names.size(); ++i)
    if (requested(folder.names[i])) folder.state[i].known = Known::NotStored;
}

bool SyncProgress::Figure(int32_t syncId, uint64_t generation, const NameList& names, const Sources& sources,
                          int32_t& done) {
  done = 0;
  if (!sources.storedSize || !sources.downloadedBytes) return false;
  auto it = folders_.find(syncId);
  Folder* folder = it == folders_.end() ? nullptr : &it->second;
  if (!folder || folder->generation != generation) folder = &Keep(syncId, generation, names());
  folder->lastUse = ++uses_;
  const auto askStore = [&sources](const std::string& name, Name& state) {
    int32_t size = -1;
    if (sources.storedSize(name, size)) {
      state.known = Known::Stored;
      state.storedSize = size;
    } else {
      state.known = Known::NotStored;
    }
  };
  uint32_t sum = 0;  // wraps like the 32-bit totals instead of overflowing
  for (size_t i = 0; i < folder->names.size(); ++i) {
    const std::string& name = folder->names[i];
    Name& state = folder->state[i];
    if (state.known == Known::Unasked) askStore(name, state);
    int32_t bytes = 0;
    if (state.known == Known::NotStored && !sources.downloadedBytes(name, bytes, state.tableHint)) {
      // Not in the table (any more): the download may have ended in the store.
      askStore(name, state);
      if (state.known == Known::NotStored) return false;
    }
    if (state.known == Known::Stored) {
      if (state.storedSize == -1) return false;
      bytes = state.storedSize;
    }
    sum += static_cast<uint32_t>(bytes);
    done = static_cast<int32_t>(sum);
  }
  return true;
}

void SyncProgress::Changed(const std::string& name) {
  for (auto& [id, folder] : folders_) {
    const auto at = std::lower_bound(folder.names.begin(), folder.names.end(), name);
    if (at == folder.names.end() || *at != name) continue;
    Name& state = folder.state[size_t(at - folder.names.begin())];
    state.known = Known::Unasked;
  }
}

}  // namespace udra

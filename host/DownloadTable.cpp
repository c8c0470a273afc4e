#include "host/DownloadTable.h"

#include <cstring>

namespace udra::host {
namespace {

constexpr uint32_t kHeader = 12;
constexpr uint32_t kMaxName = 1023;

uint32_t Align4(uint32_t n) { return (n + 3u) & ~3u; }

}  // namespace

std::string LowerAscii(const std::string& text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool DownloadTable::Open(const std::string& instanceKey, int* error) {
  memory_ = platform::SharedMemory::Create("Global\\DownloadingFileInfos_" + instanceKey, kTableBytes, error);
  if (!memory_) return false;
  void* view = memory_->MapView(0, kTableBytes);
  if (!view) {
    memory_.reset();
    return false;
  }
  Attach(static_cast<uint8_t*>(view), kTableBytes);
  return true;
}

void DownloadTable::Attach(uint8_t* base, uint32_t size) {
  base_ = base;
  size_ = size & ~3u;
  index_.clear();
  slots_.clear();
  free_.clear();
  end_ = 0;
  Adopt();
}

uint32_t* DownloadTable::Word(uint32_t offset) const {
  return reinterpret_cast<uint32_t*>(base_ + offset);
}

// Walks what a previous host left: every entry must lie inside the table, be
// aligned, hold a NUL-terminated name and not repeat a name. The walk stops
// at the terminator or at the first entry that fails; that place becomes the
// terminator. An entry without a name (a host ended while it rewrote it) is
// kept as a reusable entry. No download of this host uses any of them yet.
void DownloadTable::Adopt() {
  uint32_t at = 0;
  while (at + 4 <= size_) {
    const uint32_t length = __atomic_load_n(Word(at), __ATOMIC_ACQUIRE);
    if (length == 0) break;
    if (length % 4 || length < kHeader + 4 || length > size_ - at || size_ - at - length < 4) break;
    const char* name = reinterpret_cast<const char*>(base_ + at + kHeader);
    const size_t room = length - kHeader;
    const size_t nameLength = strnlen(name, room);
    if (nameLength == room || nameLength > kMaxName) break;
    Slot slot;
    slot.length = length;
    if (nameLength > 0) {
      slot.key = LowerAscii(std::string(name, nameLength));
      if (!index_.emplace(slot.key, at).second) break;
    }
    slots_.emplace(at, slot);
    free_.emplace(length, at);
    at += length;
  }
  end_ = at;
  if (end_ + 4 <= size_) __atomic_store_n(Word(end_), 0u, __ATOMIC_RELEASE);
}

uint32_t DownloadTable::EntryFor(const std::string& name, int32_t totalBytes) {
  if (!base_ || name.empty() || name.size() > kMaxName || name.find('\0') != std::string::npos) return kNoEntry;
  const std::string key = LowerAscii(name);
  auto it = index_.find(key);
  if (it != index_.end()) {
    Slot& slot = slots_[it->second];
    if (!slot.live) free_.erase({slot.length, it->second});
    slot.live = true;
    __atomic_store_n(Word(it->second + 8), static_cast<uint32_t>(totalBytes), __ATOMIC_RELAXED);
    return it->second;
  }
  const uint32_t length = Align4(kHeader + static_cast<uint32_t>(name.size()) + 1);
  uint32_t at = kNoEntry;
  if (end_ + length + 4 <= size_) {
    // Room for the entry and the new terminator behind it.
    at = end_;
    uint8_t* entry = base_ + at;
    __atomic_store_n(Word(at + 4), 0u, __ATOMIC_RELAXED);
    __atomic_store_n(Word(at + 8), static_cast<uint32_t>(totalBytes), __ATOMIC_RELAXED);
    memset(entry + kHeader, 0, length - kHeader);
    memcpy(entry + kHeader, name.data(), name.size());
    __atomic_store_n(Word(at + length), 0u, __ATOMIC_RELAXED);
    // Publishing: the reader sees the length only after everything above.
    __atomic_store_n(Word(at), length, __ATOMIC_RELEASE);
    end_ = at + length;
    slots_[at] = Slot{key, length, true};
  } else {
    // The smallest ended download's entry that holds the name.
    auto reusable = free_.lower_bound({length, 0});
    if (reusable == free_.end()) return kNoEntry;
    at = reusable->second;
    free_.erase(reusable);
    Slot& slot = slots_[at];
    if (!slot.key.empty()) index_.erase(slot.key);
    Rewrite(at, name, totalBytes);
    slot.key = key;
    slot.live = true;
  }
  index_.emplace(key, at);
  return at;
}

// The entry keeps its length; only its name and figures change.
void DownloadTable::Rewrite(uint32_t offset, const std::string& name, int32_t totalBytes) {
  char* field = reinterpret_cast<char*>(base_ + offset + kHeader);
  const size_t room = slots_[offset].length - kHeader;
  __atomic_store_n(field, '\0', __ATOMIC_RELEASE);
  __atomic_store_n(Word(offset + 4), 0u, __ATOMIC_RELAXED);
  __atomic_store_n(Word(offset + 8), static_cast<uint32_t>(totalBytes), __ATOMIC_RELAXED);
  for (size_t i = 1; i < room; ++i) __atomic_store_n(field + i, i < name.size() ? name[i] : '\0', __ATOMIC_RELAXED);
  __atomic_store_n(field, name[0], __ATOMIC_RELEASE);
}

void DownloadTable::Release(uint32_t offset) {
  auto it = slots_.find(offset);
  if (it == slots_.end() || !it->second.live) return;
  it->second.live = false;
  free_.emplace(it->second.length, offset);
}

void DownloadTable::SetDone(uint32_t offset, int32_t doneBytes) {
  if (!base_ || offset == kNoEntry || offset + kHeader > size_) return;
  __atomic_store_n(Word(offset + 4), static_cast<uint32_t>(doneBytes), __ATOMIC_RELAXED);
}

int32_t DownloadTable::Done(uint32_t offset) const {
  if (!base_ || offset == kNoEntry || offset + kHeader > size_) return 0;
  return static_cast<int32_t>(__atomic_load_n(Word(offset + 4), __ATOMIC_RELAXED));
}

}  // namespace udra::host

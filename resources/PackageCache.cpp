#include "resources/PackageCache.h"

namespace udra {
namespace {

std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

}  // namespace

bool PackageCache::Find(std::string_view name, Entry& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = byName_.find(Folded(name));
  if (it == byName_.end()) return false;
  order_.splice(order_.begin(), order_, it->second);
  out = it->second->entry;
  return true;
}

void PackageCache::Put(std::string_view name, const Entry& entry) {
  if (!entry.directory) return;
  const size_t bytes = entry.directory->footprint() + PackageDirectory::kNodeOverhead + name.size();
  std::string folded = Folded(name);
  std::lock_guard<std::mutex> lock(mutex_);
  const auto known = byName_.find(folded);
  if (known != byName_.end()) EraseLocked(known->second);
  if (bytes > kMaxBytes) return;
  while (!order_.empty() && (order_.size() >= kMaxPackages || bytes_ + bytes > kMaxBytes))
    EraseLocked(std::prev(order_.end()));
  order_.push_front(Slot{folded, entry, bytes});
  byName_.emplace(std::move(folded), order_.begin());
  bytes_ += bytes;
}

void PackageCache::Forget(std::string_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = byName_.find(Folded(name));
  if (it != byName_.end()) EraseLocked(it->second);
}

void PackageCache::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  byName_.clear();
  order_.clear();
  bytes_ = 0;
}

size_t PackageCache::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return order_.size();
}

size_t PackageCache::bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

void PackageCache::EraseLocked(Order::iterator it) {
  bytes_ -= it->bytes;
  byName_.erase(it->name);
  order_.erase(it);
}

}  // namespace udra

#include "host/StoreQueue.h"

#include <algorithm>
#include <chrono>

namespace udra::host {
namespace {

int64_t MemoryBytes(const StoreItem& item) { return static_cast<int64_t>(item.data.size()); }

}  // namespace

void StoreQueue::Push(std::vector<StoreItem> items) {
  if (items.empty()) return;
  std::lock_guard<std::mutex> lock(mu_);
  const bool wasEmpty = queue_.empty();
  for (StoreItem& item : items) {
    pendingBytes_ += MemoryBytes(item);
    queue_.push_back(std::move(item));
  }
  // The first items need one worker (which may wait for more); once a
  // round's worth waits, every worker may take a share.
  if (queue_.size() == 1)
    cv_.notify_one();
  else if (queue_.size() >= gather_)
    cv_.notify_all();
  else if (wasEmpty)
    cv_.notify_one();
}

bool StoreQueue::TakeRound(std::vector<StoreItem>& round, const RoundLimits& limits, int64_t& bytes) {
  round.clear();
  bytes = 0;
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) return false;
    if (queue_.size() < gather_ && limits.lingerMs > 0 && !stop_) {
      cv_.wait_for(lock, std::chrono::milliseconds(limits.lingerMs),
                   [&] { return stop_ || queue_.size() >= gather_; });
    }
    if (!queue_.empty()) break;  // else another worker took them meanwhile
  }
  const size_t share = std::max<size_t>(queue_.size() / std::max<size_t>(limits.shareOf, 1), 1);
  size_t inMemory = 0;
  while (!queue_.empty() && round.size() < limits.maxItems && bytes < limits.maxBytes) {
    // Partial files are shared out evenly; in-memory items are gathered.
    const bool gathered = queue_.front().filePath.empty() && inMemory < gather_;
    if (round.size() >= share && !gathered) break;
    inMemory += queue_.front().filePath.empty() ? 1 : 0;
    bytes += MemoryBytes(queue_.front());
    round.push_back(std::move(queue_.front()));
    queue_.pop_front();
  }
  return true;
}

bool StoreQueue::WaitForItems(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return stop_ || !queue_.empty(); }) &&
         !queue_.empty();
}

void StoreQueue::Release(int64_t bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  pendingBytes_ -= bytes;
}

void StoreQueue::Stop() {
  std::lock_guard<std::mutex> lock(mu_);
  stop_ = true;
  cv_.notify_all();
}

bool StoreQueue::empty() const {
  std::lock_guard<std::mutex> lock(mu_);
  return queue_.empty();
}

int64_t StoreQueue::pendingBytes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return pendingBytes_;
}

}  // namespace udra::host

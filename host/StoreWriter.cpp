#include "host/StoreWriter.h"

namespace udra::host {
namespace {

// Bounds of one commit of in-memory entries.
constexpr size_t kBatchEntries = 512;
constexpr int64_t kBatchBytes = 64 << 20;

}  // namespace

StoreWriter::StoreWriter(StoreLink& store, std::function<void(Results)> done)
    : store_(store), done_(std::move(done)) {}

StoreWriter::~StoreWriter() { Stop(); }

void StoreWriter::Start() {
  thread_ = platform::Thread::Start([this] { return Run(); });
}

void StoreWriter::Submit(std::vector<StoreItem> items) {
  if (items.empty()) return;
  std::lock_guard<std::mutex> lock(mu_);
  for (StoreItem& item : items) {
    pendingBytes_ += static_cast<int64_t>(item.data.size());
    queue_.push_back(std::move(item));
  }
  cv_.notify_one();
}

void StoreWriter::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
    cv_.notify_one();
  }
  if (thread_) {
    thread_->Wait(platform::kInfinite);
    thread_.reset();
  }
}

int64_t StoreWriter::pendingBytes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return pendingBytes_;
}

int StoreWriter::Run() {
  for (;;) {
    std::vector<StoreItem> batch;
    {
      std::unique_lock<std::mutex> lock(mu_);
      if (queue_.empty() && !stop_ && wroteSinceCheckpoint_) {
        // Idle: fold the log back into the database now rather than in the
        // middle of the next burst of downloads.
        lock.unlock();
        if (store_.isOpen()) store_.store()->Checkpoint();
        wroteSinceCheckpoint_ = false;
        lock.lock();
      }
      cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (queue_.empty()) return 0;
      int64_t bytes = 0;
      while (!queue_.empty() && batch.size() < kBatchEntries && bytes < kBatchBytes) {
        bytes += static_cast<int64_t>(queue_.front().data.size());
        batch.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
    }
    Results results;
    WriteBatch(batch, results);
    wroteSinceCheckpoint_ = true;
    done_(std::move(results));
    int64_t written = 0;
    for (const StoreItem& item : batch) written += static_cast<int64_t>(item.data.size());
    std::lock_guard<std::mutex> lock(mu_);
    pendingBytes_ -= written;
  }
}

int32_t StoreWriter::LastError() const {
  IZav* zav = store_.store();
  return zav ? zav->GetErrorCode(kZavLastError) : kZavErrNotOpen;
}

void StoreWriter::WriteBatch(std::vector<StoreItem>& batch, Results& results) {
  std::vector<const StoreItem*> memoryItems;
  for (const StoreItem& item : batch) {
    if (item.filePath.empty())
      memoryItems.push_back(&item);
    else
      results.push_back(WriteOne(item));
  }
  if (memoryItems.empty()) return;
  bool together = false;
  if (memoryItems.size() > 1 && store_.Reopen()) {
    std::vector<ZavEntryData> entries;
    for (const StoreItem* item : memoryItems)
      entries.push_back({item->name.c_str(), item->data.data(), static_cast<uint32_t>(item->data.size())});
    together = store_.store()->PutEntries(entries.data(), static_cast<uint32_t>(entries.size()));
  }
  for (const StoreItem* item : memoryItems)
    results.push_back(together ? StoreResult::Stored(item->key) : WriteOne(*item));
}

StoreResult StoreWriter::WriteOne(const StoreItem& item) {
  StoreResult result = StoreResult::Refused(item.key, 0);
  if (!store_.Reopen()) {
    result.storeError = LastError();
    return result;
  }
  IZav* zav = store_.store();
  if (item.filePath.empty())
    result.ok = zav->PutEntry(item.name.c_str(), item.data.data(), static_cast<uint32_t>(item.data.size()));
  else
    result.ok = zav->MoveEntryFromFile(item.name.c_str(), item.filePath.c_str());
  if (!result.ok) result.storeError = LastError();
  return result;
}

}  // namespace udra::host

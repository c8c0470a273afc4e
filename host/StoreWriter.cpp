#include "host/StoreWriter.h"

namespace udra::host {
namespace {

// Bounds of one commit of in-memory entries.
constexpr size_t kBatchEntries = 512;
constexpr int64_t kBatchBytes = 64 << 20;
// The store's log is folded back once no download has come for this long.
constexpr uint32_t kQuietMs = 200;

}  // namespace

StoreWriter::StoreWriter(StoreLink& store, std::function<void(Results)> done)
    : store_(store), done_(std::move(done)) {}

StoreWriter::~StoreWriter() { Stop(); }

void StoreWriter::Start() {
  thread_ = platform::Thread::Start([this] { return Run(); });
}

void StoreWriter::Stop() {
  queue_.Stop();
  if (thread_) {
    thread_->Wait(platform::kInfinite);
    thread_.reset();
  }
}

int StoreWriter::Run() {
  std::vector<StoreItem> batch;
  int64_t bytes = 0;
  for (;;) {
    if (wroteSinceCheckpoint_ && !queue_.WaitForItems(kQuietMs)) {
      // Quiet: fold the log back into the database now rather than in the
      // middle of a burst of downloads, where it would hold up the answers.
      if (store_.isOpen()) store_.store()->Checkpoint();
      wroteSinceCheckpoint_ = false;
    }
    if (!queue_.TakeRound(batch, RoundLimits{1, 0, kBatchEntries, kBatchBytes}, bytes)) return 0;
    Results results;
    WriteBatch(batch, results);
    wroteSinceCheckpoint_ = true;
    done_(std::move(results));
    queue_.Release(bytes);
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
    if (IZavDigests* digests = store_.digests()) {
      std::vector<ZavDigestEntry> entries;
      for (const StoreItem* item : memoryItems)
        entries.push_back({item->name.c_str(), item->data.data(), static_cast<uint32_t>(item->data.size()),
                           item->digest.c_str()});
      together = digests->PutEntriesWithDigests(entries.data(), static_cast<uint32_t>(entries.size()));
    } else {
      std::vector<ZavEntryData> entries;
      for (const StoreItem* item : memoryItems)
        entries.push_back({item->name.c_str(), item->data.data(), static_cast<uint32_t>(item->data.size())});
      together = store_.store()->PutEntries(entries.data(), static_cast<uint32_t>(entries.size()));
    }
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
  // Every entry records the digest it was verified against, when the store
  // can record it.
  IZav* zav = store_.store();
  IZavDigests* digests = store_.digests();
  const uint32_t size = static_cast<uint32_t>(item.data.size());
  if (item.filePath.empty() && digests) {
    const ZavDigestEntry entry{item.name.c_str(), item.data.data(), size, item.digest.c_str()};
    result.ok = digests->PutEntriesWithDigests(&entry, 1);
  } else if (item.filePath.empty()) {
    result.ok = zav->PutEntry(item.name.c_str(), item.data.data(), size);
  } else if (digests) {
    result.ok = digests->MoveEntryFromFileWithDigest(item.name.c_str(), item.filePath.c_str(), item.digest.c_str());
  } else {
    result.ok = zav->MoveEntryFromFile(item.name.c_str(), item.filePath.c_str());
  }
  if (!result.ok) result.storeError = LastError();
  return result;
}

}  // namespace udra::host

#include "resources/EntryChecks.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>

#include "platform/Sync.h"

namespace udra {
namespace {

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Store names compare ASCII case-insensitively; so do package names here.
bool LessFolded(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return FoldCase(x) < FoldCase(y); });
}

// One entry as the store listed it.
struct ListedRow {
  std::string name;
  int32_t size;
  char digest[33];
};

// Hands the store's listing from the thread that reads it to the one that
// looks the names up in the catalogue, a batch at a time, so that the two
// halves of the reconcile overlap.
class ListingQueue {
 public:
  static constexpr size_t kBatch = 4096;

  void Add(const char* name, int32_t size, const char* digest) {
    ListedRow row{name, size, {}};
    std::strncpy(row.digest, digest, sizeof row.digest - 1);
    filling_.push_back(std::move(row));
    if (filling_.size() >= kBatch) Flush();
  }
  void Finish(bool ok) {
    Flush();
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    ok_ = ok;
    ready_.notify_one();
  }
  // The next batch; false once the listing is over and every batch taken.
  bool Take(std::vector<ListedRow>& batch) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return done_ || !batches_.empty(); });
    if (batches_.empty()) return false;
    batch = std::move(batches_.front());
    batches_.pop_front();
    return true;
  }
  bool ok() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ok_;
  }

 private:
  void Flush() {
    if (filling_.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    batches_.push_back(std::move(filling_));
    filling_.clear();
    filling_.reserve(kBatch);
    ready_.notify_one();
  }

  std::vector<ListedRow> filling_;  // the listing thread's own
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::vector<ListedRow>> batches_;
  bool done_ = false;
  bool ok_ = false;
};

struct ListContext {
  const FileList& catalogue;
  const std::vector<EntryChecks::Expected>& packages;
  ReconcileResult& result;
  std::vector<std::string>& stale;
  size_t cursor;  // the store lists names in an order close to the catalogue's
};

}  // namespace

bool SameDigest(std::string_view a, std::string_view b) {
  if (a.size() != 32 || b.size() != 32) return false;
  for (size_t i = 0; i < 32; ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

void EntryChecks::Attach(IEntryDigests* digests) {
  Reset();
  digests_ = digests;
}

void EntryChecks::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  digests_ = nullptr;
  bad_.clear();
  verified_.clear();
  badCount_ = 0;
  packages_.Clear();
}

// Every package of the catalogue with its packed size and digest, sorted for
// lookup. Members of one package follow each other in key order, so most
// repeats are dropped before the sort.
std::vector<EntryChecks::Expected> EntryChecks::CollectPackages(const FileList& catalogue) {
  std::vector<Expected> packages;
  catalogue.ForEach([&packages](const FileListEntry& e) {
    if (e.size == -1 || e.packageName.empty()) return;
    if (!packages.empty() && packages.back().name == e.packageName) return;
    packages.push_back({e.packageName, e.packedDigest, e.packedSize});
  });
  std::stable_sort(packages.begin(), packages.end(),
                   [](const Expected& a, const Expected& b) { return LessFolded(a.name, b.name); });
  return packages;
}

bool EntryChecks::ExpectedOf(const FileList& catalogue, std::string_view downloadName,
                             const std::vector<Expected>& packages, size_t& cursor, Expected& out) {
  FileListEntry entry;
  if (catalogue.findFrom(downloadName, cursor, entry) && entry.size != -1 && entry.packageName.empty()) {
    out = {entry.name, entry.packedDigest, entry.packedSize};
    return true;
  }
  auto it = std::lower_bound(packages.begin(), packages.end(), downloadName,
                             [](const Expected& p, std::string_view name) { return LessFolded(p.name, name); });
  if (it == packages.end() || LessFolded(downloadName, it->name)) return false;
  out = *it;
  return true;
}

ReconcileResult EntryChecks::Reconcile(const FileList& catalogue) {
  ReconcileResult result;
  if (!digests_) return result;
  const std::vector<Expected> packages = CollectPackages(catalogue);
  std::vector<std::string> stale;
  ListContext context{catalogue, packages, result, stale, 0};
  // An entry whose digest is not known (kept from a store of the previous
  // format) is stale when its size shows it; otherwise its bytes are
  // checked when it is first read.
  auto check = [&context](const char* name, int32_t size, const char* digest) {
    Expected expected;
    if (!ExpectedOf(context.catalogue, name, context.packages, context.cursor, expected)) return;  // named by none
    ++context.result.checked;
    const bool known = digest[0] != '\0';
    if (!known) ++context.result.unknown;
    if (size != expected.size || (known && !SameDigest(expected.digest, digest))) context.stale.emplace_back(name);
  };
  // The store is read on a thread of its own while this one looks the
  // names up; without a thread, both happen here in turn.
  ListingQueue queue;
  IEntryDigests* digests = digests_;
  auto lister = platform::Thread::Start([&queue, digests] {
    const bool ok = digests->ListDigests(
        [](void* q, const char* name, int32_t size, const char* digest) {
          static_cast<ListingQueue*>(q)->Add(name, size, digest);
        },
        &queue);
    queue.Finish(ok);
    return 0;
  });
  if (lister) {
    std::vector<ListedRow> batch;
    while (queue.Take(batch))
      for (const ListedRow& row : batch) check(row.name.c_str(), row.size, row.digest);
    lister->Wait(platform::kInfinite);
    result.listed = queue.ok();
  } else {
    result.listed = digests_->ListDigests(
        [](void* c, const char* name, int32_t size, const char* digest) {
          (*static_cast<decltype(check)*>(c))(name, size, digest);
        },
        &check);
  }
  result.stale = stale.size();
  if (stale.empty()) return result;
  for (const std::string& name : stale) packages_.Forget(name);
  if (digests_->RemoveEntries(stale)) {
    result.removed = stale.size();
    return result;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::string& name : stale) bad_.insert(std::move(name));
  badCount_ = bad_.size();
  return result;
}

bool EntryChecks::IsBad(std::string_view downloadName) const {
  if (badCount_.load(std::memory_order_acquire) == 0) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  return bad_.find(downloadName) != bad_.end();
}

bool EntryChecks::IsVerified(std::string_view downloadName) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return verified_.find(downloadName) != verified_.end();
}

void EntryChecks::MarkVerified(const std::string& downloadName) {
  std::lock_guard<std::mutex> lock(mutex_);
  verified_.insert(downloadName);
}

bool EntryChecks::Drop(const std::string& downloadName) {
  const bool removed = digests_ && digests_->RemoveEntries({downloadName});
  packages_.Forget(downloadName);
  std::lock_guard<std::mutex> lock(mutex_);
  verified_.erase(downloadName);
  if (!removed) {
    bad_.insert(downloadName);
    badCount_ = bad_.size();
  }
  return removed;
}

void EntryChecks::RecordDigest(const std::string& downloadName, int32_t storedSize, const std::string& digest) {
  if (digests_) digests_->SetEntryDigest(downloadName, storedSize, digest);
}

void EntryChecks::Forget(const std::string& downloadName) {
  packages_.Forget(downloadName);
  std::lock_guard<std::mutex> lock(mutex_);
  verified_.erase(downloadName);
  if (bad_.erase(downloadName)) badCount_ = bad_.size();
}

}  // namespace udra

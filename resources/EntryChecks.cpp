#include "resources/EntryChecks.h"

#include <algorithm>

namespace udra {
namespace {

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Store names compare ASCII case-insensitively; so do package names here.
bool LessFolded(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return FoldCase(x) < FoldCase(y); });
}

struct ListContext {
  const FileList& catalogue;
  const std::vector<EntryChecks::Expected>& packages;
  ReconcileResult& result;
  std::vector<std::string>& stale;
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
                             const std::vector<Expected>& packages, Expected& out) {
  FileListEntry entry;
  if (catalogue.find(downloadName, entry) && entry.size != -1 && entry.packageName.empty()) {
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
  ListContext context{catalogue, packages, result, stale};
  // An entry whose digest is not known (kept from a store of the previous
  // format) is stale when its size shows it; otherwise its bytes are
  // checked when it is first read.
  result.listed = digests_->ListDigests(
      [](void* c, const char* name, int32_t size, const char* digest) {
        auto& ctx = *static_cast<ListContext*>(c);
        Expected expected;
        if (!ExpectedOf(ctx.catalogue, name, ctx.packages, expected)) return;  // named by none: left alone
        ++ctx.result.checked;
        const bool known = digest[0] != '\0';
        if (!known) ++ctx.result.unknown;
        if (size != expected.size || (known && !SameDigest(expected.digest, digest))) ctx.stale.emplace_back(name);
      },
      &context);
  result.stale = stale.size();
  if (stale.empty()) return result;
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
  std::lock_guard<std::mutex> lock(mutex_);
  verified_.erase(downloadName);
  if (bad_.erase(downloadName)) badCount_ = bad_.size();
}

}  // namespace udra

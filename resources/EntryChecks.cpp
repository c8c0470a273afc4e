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

using PackageDigests = std::vector<std::pair<std::string_view, std::string_view>>;

// Every package of the catalogue with its packed digest, sorted for lookup.
// Members of one package follow each other in key order, so most repeats are
// dropped before the sort.
PackageDigests CollectPackages(const FileList& catalogue) {
  PackageDigests packages;
  catalogue.ForEach([&packages](const FileListEntry& e) {
    if (e.size == -1 || e.packageName.empty()) return;
    if (!packages.empty() && packages.back().first == e.packageName) return;
    packages.emplace_back(e.packageName, e.packedDigest);
  });
  std::stable_sort(packages.begin(), packages.end(),
                   [](const auto& a, const auto& b) { return LessFolded(a.first, b.first); });
  return packages;
}

struct ListContext {
  const FileList& catalogue;
  const PackageDigests& packages;
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

std::string_view EntryChecks::ExpectedDigest(const FileList& catalogue, std::string_view downloadName,
                                             const PackageDigests& packages) {
  FileListEntry entry;
  if (catalogue.find(downloadName, entry) && entry.size != -1 && entry.packageName.empty()) {
    return entry.packedDigest;
  }
  auto it = std::lower_bound(packages.begin(), packages.end(), downloadName,
                             [](const auto& p, std::string_view name) { return LessFolded(p.first, name); });
  if (it != packages.end() && !LessFolded(downloadName, it->first)) return it->second;
  return std::string_view();
}

ReconcileResult EntryChecks::Reconcile(const FileList& catalogue) {
  ReconcileResult result;
  if (!digests_) return result;
  const PackageDigests packages = CollectPackages(catalogue);
  std::vector<std::string> stale;
  ListContext context{catalogue, packages, result, stale};
  result.listed = digests_->ListDigests(
      [](void* c, const char* name, const char* digest) {
        auto& ctx = *static_cast<ListContext*>(c);
        const std::string_view expected = ExpectedDigest(ctx.catalogue, name, ctx.packages);
        if (expected.empty()) return;  // named by no catalogue entry: left alone
        ++ctx.result.checked;
        if (!SameDigest(expected, digest)) ctx.stale.emplace_back(name);
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

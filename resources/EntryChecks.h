// What the manager knows of the entries in the archive store beyond their
// presence, when the store can tell it (its digest extension): which entries
// are stale or damaged and must count as missing, and which were checked
// against the catalogue in this session.
//
// At start-up Reconcile compares the packed digest every entry was stored
// with against the catalogue's for its download name and removes the entries
// of another content version, in one pass. Before an entry's bytes are first
// served in a session, the content decoder checks the stored form's MD5
// against the catalogue; an entry that fails is dropped, so that the next
// sync fetches it again. Entries the store could not remove are remembered
// here as bad, so that they count as missing all the same until a download
// replaces them.
//
// With a store of the original kind (no extension) nothing here applies and
// the manager behaves as without it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "resources/FileList.h"
#include "resources/PackageCache.h"

namespace udra {

// The store's digest operations as the manager needs them.
class IEntryDigests {
 public:
  virtual ~IEntryDigests() = default;
  // Calls `visit` with the name, stored size and digest ("" when not known)
  // of every entry; false when the store could not be read.
  using DigestVisit = void (*)(void* context, const char* name, int32_t size, const char* digest);
  virtual bool ListDigests(DigestVisit visit, void* context) = 0;
  virtual bool RemoveEntries(const std::vector<std::string>& names) = 0;
  // Records the digest of an entry whose `size` stored bytes were verified.
  virtual bool SetEntryDigest(const std::string& name, int32_t size, const std::string& digest) = 0;
};

// What one reconcile found.
struct ReconcileResult {
  bool listed = false;  // the store's digests were read
  size_t checked = 0;   // entries named by the catalogue
  size_t unknown = 0;   // of those, entries whose digest is not known (checked by size only)
  size_t stale = 0;     // of those, entries of another content version
  size_t removed = 0;   // stale entries the store removed
};


class EntryChecks {
 public:
  // `digests` may be null: the store has no extension.
  void Attach(IEntryDigests* digests);
  // Forgets everything of the session.
  void Reset();
  bool enabled() const { return digests_ != nullptr; }

  ReconcileResult Reconcile(const FileList& catalogue);

  // True when `downloadName` is known to be stale or damaged. Cheap while
  // nothing is: one atomic load.
  bool IsBad(std::string_view downloadName) const;
  // True when the entry's stored form was checked in this session.
  bool IsVerified(std::string_view downloadName) const;
  void MarkVerified(const std::string& downloadName);
  // The entry failed a check: remove it from the store (it counts as bad if
  // that fails). True when the store removed it.
  bool Drop(const std::string& downloadName);
  // Records the verified digest of an entry whose digest the store did not
  // know (a store of the previous format); failures are of no consequence.
  void RecordDigest(const std::string& downloadName, int32_t storedSize, const std::string& digest);
  // A download of `downloadName` completed: whatever was known of its old
  // entry no longer holds.
  void Forget(const std::string& downloadName);

  // The directories of packages checked in this session; whatever makes an
  // entry's check void here (Forget, Drop, Reset, a reconcile's removal)
  // drops its directory too.
  PackageCache& packages() { return packages_; }

  // What the catalogue expects of the stored form of a download name: a
  // stored file's own packed size and digest, or its package's.
  struct Expected {
    std::string_view name;  // the package name, for a package
    std::string_view digest;
    int32_t size = 0;
  };
  // False when no catalogue entry names `downloadName`. `packages` is sorted
  // (CollectPackages); `cursor` is FileList::findFrom's, kept between calls
  // that visit names in order.
  static bool ExpectedOf(const FileList& catalogue, std::string_view downloadName,
                         const std::vector<Expected>& packages, size_t& cursor, Expected& out);
  static std::vector<Expected> CollectPackages(const FileList& catalogue);

 private:
  IEntryDigests* digests_ = nullptr;
  mutable std::mutex mutex_;
  std::set<std::string, std::less<>> bad_;
  std::set<std::string, std::less<>> verified_;
  std::atomic<size_t> badCount_{0};
  PackageCache packages_;
};

// True when two digests are the same 32 hexadecimal digits, either case.
bool SameDigest(std::string_view a, std::string_view b);

}  // namespace udra

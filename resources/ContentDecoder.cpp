#include "resources/ContentDecoder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "platform/Sync.h"
#include "resources/Package.h"
#include "resources/PackageCache.h"

namespace udra {
namespace {

DecodedContent Failed() { return DecodedContent{}; }

DecodedContent Damaged() {
  DecodedContent content;
  content.damaged = true;
  return content;
}

DecodedContent Empty() {
  DecodedContent content;
  content.outcome = DecodedContent::Outcome::Empty;
  return content;
}

DecodedContent Changed() {
  DecodedContent content;
  content.changed = true;
  return content;
}

// The outcome of decoding stored form bytes that the catalogue says decode
// to exactly catalogSize bytes.
DecodedContent Decoded(const EntryDecoder& decode, const char* data, int32_t length, int32_t catalogSize) {
  char* decoded = nullptr;
  int32_t decodedSize = catalogSize;
  const bool ok = decode(data, length, &decoded, &decodedSize);
  std::unique_ptr<char[]> owned(decoded);
  if (!ok || !owned || decodedSize != catalogSize) return Damaged();

  DecodedContent content;
  content.outcome = DecodedContent::Outcome::Bytes;
  content.data = std::move(owned);
  content.size = uint32_t(catalogSize);
  return content;
}

// Stored entries of at least this size are checked on a second thread while
// the calling thread deciphers and decodes them: the check then costs the
// first read next to nothing. Smaller ones are checked first, where a thread
// would cost more than it saves.
constexpr uint32_t kConcurrentCheckSize = 64u << 10;

// The check of one stored entry, run on its own thread or, when none can be
// started, at once on the calling one. The stored bytes must stay untouched
// and alive until Passed returns, which waits for the thread.
class PendingCheck {
 public:
  PendingCheck(const StoredCheck& check, const char* data, uint32_t size) {
    thread_ = platform::Thread::Start([this, &check, data, size] {
      passed_ = Run(check, data, size);
      return 0;
    });
    if (!thread_) passed_ = Run(check, data, size);
  }
  ~PendingCheck() { Join(); }
  PendingCheck(const PendingCheck&) = delete;
  PendingCheck& operator=(const PendingCheck&) = delete;

  bool Passed() {
    Join();
    return passed_;
  }

 private:
  static bool Run(const StoredCheck& check, const char* data, uint32_t size) {
    try {
      return check(data, size);
    } catch (...) {
      return false;  // out of memory: the bytes count as not checked
    }
  }
  void Join() {
    if (thread_) thread_->Wait(platform::kInfinite);
    thread_.reset();
  }

  bool passed_ = false;
  std::unique_ptr<platform::Thread> thread_;
};

// The decoded content of the stored bytes of `key` (the package, for a
// packaged file), not checked here. *directory, when given, receives the
// package's parsed directory.
DecodedContent DecodeStored(const EntryDecoder& decode, std::string_view key, std::string_view packageName,
                            int32_t catalogSize, const char* stored, int32_t storedSize,
                            std::shared_ptr<PackageDirectory>* directory = nullptr) {
  if (packageName.empty()) return Decoded(decode, stored, storedSize, catalogSize);
  auto parsed = std::make_shared<PackageDirectory>();
  if (!parsed->Parse(reinterpret_cast<const uint8_t*>(stored), size_t(storedSize))) return Damaged();
  if (directory) *directory = parsed;
  PackageMember member;
  if (!parsed->Find(PackageMemberName(packageName, key), member)) return Damaged();
  // An empty member is the file only when the catalogue says it is empty.
  if (member.size == 0) return catalogSize == 0 ? Empty() : Damaged();
  return Decoded(decode, stored + member.offset, member.size, catalogSize);
}

// A package directory is read from the package's start in parts of this size
// and up, each twice the last, until it ends inside what was read.
constexpr uint32_t kDirectoryReadSize = 64u << 10;

// Reads the directory of the package behind `handle` (storedSize bytes, at
// least 1) through ranged reads. On kRead, *directory is null for a package
// too short to be one.
IEntryReader::Range ReadDirectory(IEntryReader& store, int32_t handle, uint32_t storedSize,
                                  std::shared_ptr<PackageDirectory>& directory) {
  directory.reset();
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t have = 0;
  uint32_t want = std::min(storedSize, kDirectoryReadSize);
  for (;;) {
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[want]);
    if (!grown) return IEntryReader::Range::kFailed;
    if (have > 0) std::memcpy(grown.get(), bytes.get(), have);
    bytes = std::move(grown);
    const IEntryReader::Range range = store.ReadRange(handle, have, bytes.get() + have, want - have);
    if (range != IEntryReader::Range::kRead) return range;
    have = want;
    auto parsed = std::make_shared<PackageDirectory>();
    bool cut = false;
    if (!parsed->Parse(bytes.get(), have, storedSize, &cut)) return IEntryReader::Range::kRead;
    if (!cut || have == storedSize) {
      directory = std::move(parsed);
      return IEntryReader::Range::kRead;
    }
    want = storedSize - have > have ? 2 * have : storedSize;
  }
}

// Reads and decodes one member through `handle`; *range tells how the read
// went (the outcome counts only with kRead).
DecodedContent DecodeMember(IEntryReader& store, const EntryDecoder& decode, int32_t handle,
                            const PackageMember& member, int32_t catalogSize, IEntryReader::Range& range) {
  range = IEntryReader::Range::kRead;
  if (member.size == 0) return catalogSize == 0 ? Empty() : Damaged();
  std::unique_ptr<char[]> bytes(new (std::nothrow) char[size_t(member.size)]);
  if (!bytes) {
    range = IEntryReader::Range::kFailed;
    return Failed();
  }
  range = store.ReadRange(handle, uint32_t(member.offset), bytes.get(), uint32_t(member.size));
  if (range != IEntryReader::Range::kRead) return Failed();
  return Decoded(decode, bytes.get(), member.size, catalogSize);
}

// A member of a package whose bytes need no check, read on its own.
DecodedContent DecodeMemberByRanges(IEntryReader& store, const EntryDecoder& decode, std::string_view key,
                                    std::string_view packageName, int32_t catalogSize, PackageCache& packages) {
  const std::string memberName = PackageMemberName(packageName, key);
  PackageMember member;
  IEntryReader::Range range;
  PackageCache::Entry kept;
  if (packages.Find(packageName, kept)) {
    if (kept.directory->Find(memberName, member)) {
      DecodedContent content = DecodeMember(store, decode, kept.handle, member, catalogSize, range);
      if (range == IEntryReader::Range::kRead) return content;
    }
    // The entry changed, the store forgot the handle, or the member is not
    // in this directory (a newer package may hold it): the directory goes.
    packages.Forget(packageName);
    if (range == IEntryReader::Range::kChanged) return Changed();
  }

  const std::string fetchName(packageName);
  const int32_t handle = store.OpenEntry(fetchName.c_str(), 1, 0);
  if (handle == -1) return Failed();
  const int32_t storedSize = store.GetEntrySize(handle);
  if (storedSize < 0) return Failed();
  if (storedSize == 0) return catalogSize == 0 ? Empty() : Damaged();
  std::shared_ptr<PackageDirectory> directory;
  range = ReadDirectory(store, handle, uint32_t(storedSize), directory);
  if (range == IEntryReader::Range::kChanged) return Changed();
  if (range != IEntryReader::Range::kRead) return Failed();
  if (!directory) return Damaged();
  packages.Put(packageName, PackageCache::Entry{handle, storedSize, directory});
  if (!directory->Find(memberName, member)) return Damaged();
  DecodedContent content = DecodeMember(store, decode, handle, member, catalogSize, range);
  if (range == IEntryReader::Range::kRead) return content;
  packages.Forget(packageName);
  return range == IEntryReader::Range::kChanged ? Changed() : Failed();
}

}  // namespace

DecodedContent DecodeContent(IEntryReader& store, const EntryDecoder& decode, std::string_view key,
                             std::string_view packageName, int32_t catalogSize, const StoredCheck& check,
                             PackageCache* packages) {
  if (catalogSize < 0 || !decode) return Failed();
  if (packageName.empty() || !store.ReadsRanges()) packages = nullptr;
  if (packages && !check) return DecodeMemberByRanges(store, decode, key, packageName, catalogSize, *packages);
  const std::string fetchName(!packageName.empty() ? packageName : key);

  const int32_t handle = store.OpenEntry(fetchName.c_str(), 1, 0);
  if (handle == -1) return Failed();
  const int32_t storedSize = store.GetEntrySize(handle);
  if (storedSize < 0) return Failed();
  if (storedSize == 0) {
    if (catalogSize == 0) return Empty();
    // An empty entry for a file the catalogue says has bytes can never give
    // them: it is damaged. The check still sees it, so that the caller can
    // tell these bytes are not the catalogue's.
    if (check) check("", 0);
    return Damaged();
  }

  std::unique_ptr<char[]> stored(new (std::nothrow) char[size_t(storedSize)]);
  if (!stored) return Failed();
  uint32_t delivered = uint32_t(storedSize);
  // A short read is a failed read: the entry's bytes are incomplete.
  if (!store.ReadEntry(handle, stored.get(), &delivered) || delivered != uint32_t(storedSize)) {
    return Failed();
  }
  // The directory of a package that passed its check is kept for the
  // package's other members, bound to the handle its bytes came through.
  std::shared_ptr<PackageDirectory> directory;
  std::shared_ptr<PackageDirectory>* keep = packages ? &directory : nullptr;
  const auto kept = [&](DecodedContent content) {
    if (directory) packages->Put(packageName, PackageCache::Entry{handle, storedSize, directory});
    return content;
  };
  if (!check) return DecodeStored(decode, key, packageName, catalogSize, stored.get(), storedSize);
  if (uint32_t(storedSize) < kConcurrentCheckSize) {
    if (!check(stored.get(), uint32_t(storedSize))) return Damaged();
    return kept(DecodeStored(decode, key, packageName, catalogSize, stored.get(), storedSize, keep));
  }
  // Decoded while being checked: whatever the decode gave, bytes that fail
  // the check make the outcome Damaged, as when the check comes first. Only
  // the decoder reads unchecked bytes, and it is made for damaged input.
  PendingCheck pending(check, stored.get(), uint32_t(storedSize));
  DecodedContent content = DecodeStored(decode, key, packageName, catalogSize, stored.get(), storedSize, keep);
  if (!pending.Passed()) return Damaged();
  return kept(std::move(content));
}

}  // namespace udra

#include "components/store/ZavStore.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "components/store/StoreSchema.h"

namespace udra::store {

namespace {

// Entries handed to ListEntries' callback per round; no lock is held while
// the callback runs, so it may call the store.
constexpr size_t kListPage = 256;
// Digests are small: a larger page keeps a listing of every entry quick.
constexpr size_t kDigestPage = 4096;

bool IsValidFolder(const char* path) {
  return path != nullptr && path[0] != '\0' && strnlen(path, 4096) < 4096;
}

}  // namespace

ZavStore::ZavStore() : reader_(errors_), writer_(errors_) {}

ZavStore::~ZavStore() { CloseLocked(); }

void ZavStore::DeletingDestructor(unsigned int flags) {
  if (flags & 1) {
    delete this;
  } else {
    this->~ZavStore();
  }
}

bool ZavStore::Exists(const char* path) {
  return Guarded(false, [&] { return IsValidFolder(path) && IsRegularFile(StorePaths(path).database); });
}

bool ZavStore::Load(const char* path) {
  return Guarded(false, [&] {
    std::lock_guard<std::mutex> lock(lifecycle_);
    return LoadLocked(path);
  });
}

bool ZavStore::LoadLocked(const char* path) {
  CloseLocked();
  if (!IsValidFolder(path)) {
    errors_.Fail(kZavErrArgument);
    return false;
  }
  StorePaths paths(path);
  if (!IsRegularFile(paths.database)) {
    errors_.Fail(kZavErrUnreadable);
    return false;
  }
  return OpenExisting(paths);
}

bool ZavStore::Create(const char* path, int32_t flag, uint32_t reservedSize) {
  return Guarded(false, [&] {
    std::lock_guard<std::mutex> lock(lifecycle_);
    return CreateLocked(path, flag, reservedSize);
  });
}

bool ZavStore::CreateLocked(const char* path, int32_t flag, uint32_t reservedSize) {
  CloseLocked();
  if (!IsValidFolder(path) || (flag != kZavCreateNew && flag != kZavCreateRebuild)) {
    errors_.Fail(kZavErrArgument);
    return false;
  }
  StorePaths paths(path);
  // A rebuild frees what the old store occupies. When the free space cannot
  // be told, creation goes ahead and a full disk shows on the first write.
  int64_t freeBytes = FreeBytesAt(path);
  if (freeBytes >= 0 && flag == kZavCreateRebuild) freeBytes += StoreFilesSize(paths);
  if (freeBytes >= 0 && freeBytes < static_cast<int64_t>(reservedSize)) {
    errors_.Fail(kZavErrDiskFull);
    return false;
  }
  if (!MakeFolders(paths.folder)) {
    errors_.Fail(kZavErrUnreadable);
    return false;
  }
  if (flag == kZavCreateNew && IsRegularFile(paths.database)) {
    // Never throw away a store without being asked to: use it as it is.
    return OpenExisting(paths);
  }
  if (flag == kZavCreateRebuild && !RemoveStoreFiles(paths)) {
    errors_.Fail(kZavErrUnreadable);
    return false;
  }
  return BuildNew(paths) && OpenExisting(paths);
}

bool ZavStore::BuildNew(const StorePaths& paths) {
  // The database is built under a temporary name and published complete, so
  // another process never opens a half-made store.
  RemoveAbandonedTemporaries(paths);
  std::string temporary = TemporaryDatabasePath(paths);
  CreatePrivateFile(temporary);  // when it fails, SQLite's own attempt reports why
  int rc;
  {
    Database db;
    rc = db.Open(temporary, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (rc == SQLITE_OK) rc = CreateSchema(db);
    // The journal mode is recorded in the file: every later connection uses WAL.
    if (rc == SQLITE_OK) rc = db.Exec("PRAGMA journal_mode=WAL");
    if (rc != SQLITE_OK && db.IsOpen()) rc = db.ExtendedErrorCode();
  }
  if (rc != SQLITE_OK) {
    RemoveDatabaseFiles(temporary);
    ZavErrorCode code = ErrorCodeOf(rc);
    errors_.Fail(code == kZavErrDiskFull ? code : kZavErrUnreadable, rc);
    return false;
  }
  if (PublishDatabase(temporary, paths.database) == PublishResult::kFailed) {
    errors_.Fail(kZavErrUnreadable);
    return false;
  }
  return true;
}

bool ZavStore::OpenExisting(const StorePaths& paths) {
  if (IsRegularFile(paths.damagedMarker)) {
    errors_.Fail(kZavErrDamaged);
    return false;
  }
  if (reader_.Open(paths.database, paths.files) != kZavOk) return false;
  if (writer_.Open(paths.database, paths.files) != kZavOk) {
    reader_.Close();
    return false;
  }
  writer_.RemoveAbandonedFiles();
  errors_.SetDamageMarker(paths.damagedMarker);
  identity_.Remember(paths.folder, paths.database);
  errors_.Clear();
  return true;
}

void ZavStore::FollowReplacement() {
  std::string folder;
  if (!identity_.Replaced(folder)) return;
  std::lock_guard<std::mutex> lock(lifecycle_);
  if (!identity_.Replaced(folder)) return;  // another thread followed it already
  CloseLocked();
  OpenExisting(StorePaths(folder));
}

bool ZavStore::Close() {
  return Guarded(true, [&] {
    std::lock_guard<std::mutex> lock(lifecycle_);
    CloseLocked();
    return true;
  });
}

void ZavStore::CloseLocked() {
  identity_.Forget();
  errors_.SetDamageMarker(std::string());
  reader_.Close();
  writer_.Close();
  handles_.Clear();
}

bool ZavStore::CheckName(const char* name) {
  if (IsValidName(name)) return true;
  errors_.Fail(kZavErrArgument);
  return false;
}

bool ZavStore::HasEntry(const char* name) {
  return Guarded(false, [&] {
    FollowReplacement();
    EntryRef ref;
    return CheckName(name) && reader_.Lookup(name, ref);
  });
}

int32_t ZavStore::GetEntrySizeByName(const char* name) {
  return Guarded(-1, [&] {
    FollowReplacement();
    EntryRef ref;
    return CheckName(name) && reader_.Lookup(name, ref) ? ref.size : -1;
  });
}

bool ZavStore::ValidNames(const char* const* names, uint32_t count, std::vector<const char*>& valid) {
  if (count > 0 && names == nullptr) {
    errors_.Fail(kZavErrArgument);
    return false;
  }
  valid.assign(names, names + count);
  for (const char*& name : valid)
    if (!IsValidName(name)) name = nullptr;
  return true;
}

bool ZavStore::GetEntrySizes(const char* const* names, uint32_t count, int32_t* sizes) {
  return GetEntryDigests(names, count, sizes, nullptr);
}

bool ZavStore::GetEntryDigests(const char* const* names, uint32_t count, int32_t* sizes, ZavDigestText* digests) {
  return Guarded(false, [&] {
    std::vector<const char*> valid;
    if (count > 0 && sizes == nullptr) {
      errors_.Fail(kZavErrArgument);
      return false;
    }
    if (!ValidNames(names, count, valid)) {
      std::fill(sizes, sizes + count, -1);
      if (digests) std::fill(digests, digests + count, ZavDigestText{});
      return false;
    }
    FollowReplacement();
    return reader_.Digests(valid.data(), count, sizes, digests);
  });
}

int32_t ZavStore::OpenEntry(const char* name, int32_t /*mode*/, int32_t /*flags*/) {
  return Guarded(-1, [&] {
    FollowReplacement();
    EntryRef ref;
    if (!CheckName(name) || !reader_.Lookup(name, ref)) return -1;
    return handles_.Add(std::move(ref));
  });
}

int32_t ZavStore::GetEntrySize(int32_t handle) {
  return Guarded(-1, [&] {
    EntryRef ref;
    if (handles_.Find(handle, ref)) return ref.size;
    errors_.Fail(kZavErrArgument);
    return -1;
  });
}

bool ZavStore::ReadEntry(int32_t handle, void* buffer, uint32_t* inoutSize) {
  return Guarded(false, [&] { return ReadByHandle(handle, 0, buffer, inoutSize, true); });
}

bool ZavStore::ReadEntryAt(int32_t handle, uint32_t offset, void* buffer, uint32_t* inoutSize) {
  return Guarded(false, [&] { return ReadByHandle(handle, offset, buffer, inoutSize, false); });
}

bool ZavStore::ReadByHandle(int32_t handle, uint32_t offset, void* buffer, uint32_t* inoutSize, bool whole) {
  if (inoutSize == nullptr) {
    errors_.Fail(kZavErrArgument);
    return false;
  }
  uint32_t capacity = *inoutSize;
  *inoutSize = 0;
  EntryRef ref;
  if (!handles_.Find(handle, ref)) {
    errors_.Fail(kZavErrArgument);
    return false;
  }
  uint32_t delivered = 0;
  bool ok = reader_.Read(ref, offset, buffer, capacity, whole, delivered);
  *inoutSize = delivered;
  return ok;
}

bool ZavStore::PutEntry(const char* name, const void* data, uint32_t size) {
  return Guarded(false, [&] {
    FollowReplacement();
    ZavDigestEntry entry{name, data, size, nullptr};
    return writer_.Put(&entry, 1);
  });
}

bool ZavStore::PutEntries(const ZavEntryData* entries, uint32_t count) {
  return Guarded(false, [&] {
    if (count > 0 && entries == nullptr) {
      errors_.Fail(kZavErrArgument);
      return false;
    }
    std::vector<ZavDigestEntry> withoutDigests;
    withoutDigests.reserve(count);
    for (uint32_t i = 0; i < count; ++i)
      withoutDigests.push_back({entries[i].name, entries[i].data, entries[i].size, nullptr});
    FollowReplacement();
    return writer_.Put(withoutDigests.data(), count);
  });
}

bool ZavStore::PutEntriesWithDigests(const ZavDigestEntry* entries, uint32_t count) {
  return Guarded(false, [&] {
    FollowReplacement();
    return writer_.Put(entries, count);
  });
}

bool ZavStore::PutEntryFromFile(const char* name, const char* filePath) {
  return Guarded(false, [&] {
    FollowReplacement();
    return writer_.PutFromFile(name, filePath);
  });
}

bool ZavStore::MoveEntryFromFile(const char* name, const char* filePath) {
  return Guarded(false, [&] {
    FollowReplacement();
    return writer_.MoveFromFile(name, filePath, nullptr);
  });
}

bool ZavStore::MoveEntryFromFileWithDigest(const char* name, const char* filePath, const char* digest) {
  return Guarded(false, [&] {
    FollowReplacement();
    return writer_.MoveFromFile(name, filePath, digest);
  });
}

bool ZavStore::RemoveEntry(const char* name) {
  return Guarded(false, [&] {
    if (!CheckName(name)) return false;
    FollowReplacement();
    return writer_.Remove(&name, 1);
  });
}

bool ZavStore::RemoveEntries(const char* const* names, uint32_t count) {
  return Guarded(false, [&] {
    std::vector<const char*> valid;
    if (!ValidNames(names, count, valid)) return false;
    FollowReplacement();
    return writer_.Remove(valid.data(), count);
  });
}

bool ZavStore::SetEntryDigest(const char* name, int32_t size, const char* digest) {
  return Guarded(false, [&] {
    FollowReplacement();
    return writer_.SetDigest(name, size, digest);
  });
}

bool ZavStore::Checkpoint() {
  return Guarded(false, [&] { return writer_.Checkpoint(); });
}

int32_t ZavStore::GetEntryCount() {
  return Guarded(-1, [&] {
    FollowReplacement();
    return reader_.Count();
  });
}

int32_t ZavStore::ListEntries(ZavListCallback callback, void* context) {
  return Guarded(-1, [&] { return ListLocked(callback, context); });
}

int32_t ZavStore::ListLocked(ZavListCallback callback, void* context) {
  if (callback == nullptr) {
    errors_.Fail(kZavErrArgument);
    return -1;
  }
  int32_t visited = 0;
  std::string after;
  std::vector<std::pair<std::string, int32_t>> page;
  for (;;) {
    if (!reader_.Page(after, kListPage, page)) return -1;
    for (const auto& entry : page) {
      if (visited < INT32_MAX) ++visited;
      if (!callback(context, entry.first.c_str(), entry.second)) return visited;
    }
    if (page.size() < kListPage) return visited;
    after = page.back().first;
  }
}

int32_t ZavStore::ListDigests(ZavDigestCallback callback, void* context) {
  return Guarded(-1, [&] { return ListDigestsLocked(callback, context); });
}

int32_t ZavStore::ListDigestsLocked(ZavDigestCallback callback, void* context) {
  if (callback == nullptr) {
    errors_.Fail(kZavErrArgument);
    return -1;
  }
  FollowReplacement();
  int32_t visited = 0;
  std::string after;
  std::vector<EntryReader::DigestRow> page;
  for (;;) {
    if (!reader_.DigestPage(after, kDigestPage, page)) return -1;
    for (const auto& row : page) {
      if (visited < INT32_MAX) ++visited;
      if (!callback(context, row.name.c_str(), row.size, row.digest.c_str())) return visited;
    }
    if (page.size() < kDigestPage) return visited;
    after = page.back().name;
  }
}

int32_t ZavStore::GetErrorCode(int32_t which) {
  switch (which) {
    case kZavLastError:
      return errors_.code();
    case kZavLastSqliteError:
      return errors_.sqliteResult();
    default:
      return -1;
  }
}

}  // namespace udra::store

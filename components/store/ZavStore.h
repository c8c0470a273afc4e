// The store object "ZAV.dll" hands out: an SQLite database in WAL mode inside
// the store folder, one row per entry (see StoreSchema.h).
//
// Two processes use one store at once (the host writes, the game reads);
// within a process the object may be called from several threads. Reads and
// writes go through separate connections, each serialised by its own lock;
// Create, Load and Close take both. When another process rebuilds the store
// (a new database file under the same name), the next operation reopens it,
// so nothing is written into the replaced file where no one would read it.
//
// The same object is the store's digest extension (IZavDigests.h), handed out
// by the export GetZAVDigests.
#pragma once

#include <mutex>
#include <vector>

#include "components/store/EntryReader.h"
#include "components/store/EntryWriter.h"
#include "components/store/ErrorState.h"
#include "components/store/HandleTable.h"
#include "components/store/StoreFiles.h"
#include "core/IZav.h"
#include "core/IZavDigests.h"

namespace udra::store {

class ZavStore final : public IZav, public IZavDigests {
 public:
  ZavStore();
  ~ZavStore();
  ZavStore(const ZavStore&) = delete;
  ZavStore& operator=(const ZavStore&) = delete;

  void DeletingDestructor(unsigned int flags) override;
  bool Create(const char* path, int32_t flag, uint32_t reservedSize) override;
  bool Load(const char* path) override;
  bool Close() override;
  int32_t OpenEntry(const char* name, int32_t mode, int32_t flags) override;
  bool ReadEntry(int32_t handle, void* buffer, uint32_t* inoutSize) override;
  bool PutEntry(const char* name, const void* data, uint32_t size) override;
  bool PutEntries(const ZavEntryData* entries, uint32_t count) override;
  bool PutEntryFromFile(const char* name, const char* filePath) override;
  bool RemoveEntry(const char* name) override;
  int32_t ListEntries(ZavListCallback callback, void* context) override;
  bool Reserved11() override { return false; }
  int32_t GetEntrySize(int32_t handle) override;
  int32_t GetEntrySizeByName(const char* name) override;
  int32_t GetEntryCount() override;
  bool ReadEntryAt(int32_t handle, uint32_t offset, void* buffer, uint32_t* inoutSize) override;
  bool Checkpoint() override;
  bool Exists(const char* path) override;
  bool HasEntry(const char* name) override;
  bool MoveEntryFromFile(const char* name, const char* filePath) override;
  bool GetEntrySizes(const char* const* names, uint32_t count, int32_t* sizes) override;
  bool Reserved21() override { return false; }
  int32_t GetErrorCode(int32_t which) override;

  // IZavDigests
  int32_t GetVersion() override { return kZavDigestsVersion; }
  bool PutEntriesWithDigests(const ZavDigestEntry* entries, uint32_t count) override;
  bool MoveEntryFromFileWithDigest(const char* name, const char* filePath, const char* digest) override;
  bool GetEntryDigests(const char* const* names, uint32_t count, int32_t* sizes, ZavDigestText* digests) override;
  int32_t ListDigests(ZavDigestCallback callback, void* context) override;
  bool SetEntryDigest(const char* name, int32_t size, const char* digest) override;
  bool RemoveEntries(const char* const* names, uint32_t count) override;

 private:
  // Runs one operation; an exception (only an allocation failure can raise
  // one) becomes the operation's failure result, never the caller's problem.
  template <typename R, typename F>
  R Guarded(R failure, F&& body) noexcept {
    try {
      return body();
    } catch (...) {
      try {
        errors_.Fail(kZavErrIo);
      } catch (...) {
      }
      return failure;
    }
  }

  bool CreateLocked(const char* path, int32_t flag, uint32_t reservedSize);
  bool LoadLocked(const char* path);
  int32_t ListLocked(ZavListCallback callback, void* context);
  int32_t ListDigestsLocked(ZavDigestCallback callback, void* context);
  // The valid names of `names`, the others null; false when the array is
  // missing.
  bool ValidNames(const char* const* names, uint32_t count, std::vector<const char*>& valid);
  bool OpenExisting(const StorePaths& paths);
  // Reopens the store when another process rebuilt it since it was opened.
  void FollowReplacement();
  bool BuildNew(const StorePaths& paths);
  void CloseLocked();
  bool ReadByHandle(int32_t handle, uint32_t offset, void* buffer, uint32_t* inoutSize, bool whole);
  bool CheckName(const char* name);

  std::mutex lifecycle_;
  ErrorState errors_;
  HandleTable handles_;
  DatabaseIdentity identity_;
  EntryReader reader_;
  EntryWriter writer_;
};

}  // namespace udra::store

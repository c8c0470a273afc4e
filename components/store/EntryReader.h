// The read side of the store: one connection of its own, so reads never wait
// for this process's writes (and, with WAL, never for another process's).
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "components/store/EntryFiles.h"
#include "components/store/ErrorState.h"
#include "components/store/HandleTable.h"
#include "components/store/SqliteDb.h"
#include "core/IZavDigests.h"

namespace udra::store {

class EntryReader {
 public:
  explicit EntryReader(ErrorState& errors) : errors_(errors) {}
  ~EntryReader() { Close(); }
  EntryReader(const EntryReader&) = delete;
  EntryReader& operator=(const EntryReader&) = delete;

  // Opens the database and checks it; returns the store's code. Large
  // entries are read from `filesFolder`.
  ZavErrorCode Open(const std::string& databasePath, const std::string& filesFolder);
  void Close();

  // The entry's row and size; false when absent or on failure. A large
  // entry whose file is missing or of the wrong size (lost in a crash of
  // the machine, or removed by hand) counts as absent, so that it is fetched
  // again rather than the whole store thrown away.
  bool Lookup(const char* name, EntryRef& ref);
  // The sizes of `count` entries from one snapshot, -1 for each absent one
  // (and for a null name), and the digest each records ("" when unknown;
  // `digests` may be null); false, with every size -1, on failure.
  bool Digests(const char* const* names, uint32_t count, int32_t* sizes, ZavDigestText* digests);
  // Up to `limit` rows of the digests table whose names sort after `after`;
  // an unknown or damaged digest reads as "".
  struct DigestRow {
    std::string name;
    int32_t size;
    std::string digest;
  };
  bool DigestPage(const std::string& after, size_t limit, std::vector<DigestRow>& out);
  // Copies the entry `ref` names, provided it is still the same entry. With
  // `whole` the entry must fit into `capacity` and is copied entirely;
  // otherwise up to `capacity` bytes from `offset`.
  bool Read(const EntryRef& ref, uint32_t offset, void* buffer, uint32_t capacity, bool whole,
            uint32_t& delivered);
  int32_t Count();
  // Up to `limit` entries whose names sort after `after` ("" for the first).
  bool Page(const std::string& after, size_t limit, std::vector<std::pair<std::string, int32_t>>& out);

 private:
  bool IsOpen();
  void CloseLocked();
  ZavErrorCode Prepare();
  enum class Found { kYes, kNo, kFailed };
  Found LookupRow(const char* name, EntryRef& ref);
  bool Intact(const EntryRef& ref);
  bool DigestOf(const char* name, ZavDigestText& digest);
  bool Begin();
  void End();
  bool Copy(const EntryRef& ref, uint32_t offset, void* buffer, uint32_t count);
  bool CopyBlob(int64_t id, uint32_t offset, void* buffer, uint32_t count, uint32_t expectedSize);

  ErrorState& errors_;
  std::mutex mutex_;
  Database db_;
  EntryFiles files_;
  Statement begin_, commit_, byName_, byId_, count_, page_, digestOf_, digestPage_;
};

}  // namespace udra::store

// The write side of the store: complete entries, each commit all or nothing.
//
// Every write runs in one IMMEDIATE transaction, so another process's reader
// sees an entry only once its commit is in the log, whole. A writer that dies
// mid-entry leaves an uncommitted tail in the log that SQLite ignores.
// Batches put many entries into one commit, which is what makes thousands of
// small entries per second possible. Large entries are written to their own
// files before the transaction begins (EntryFiles.h); the files of entries
// that a commit replaced or removed are deleted once it has succeeded.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "components/store/EntryFiles.h"
#include "components/store/ErrorState.h"
#include "components/store/SqliteDb.h"
#include "core/IZavDigests.h"

namespace udra::store {

class EntryWriter {
 public:
  explicit EntryWriter(ErrorState& errors) : errors_(errors) {}
  ~EntryWriter() { Close(); }
  EntryWriter(const EntryWriter&) = delete;
  EntryWriter& operator=(const EntryWriter&) = delete;

  // Opens a second connection to a database the reader already checked;
  // large entries go to `filesFolder`.
  ZavErrorCode Open(const std::string& databasePath, const std::string& filesFolder);
  void Close();

  // Each write records the entry's digest, or none when `digest` is null (a
  // replaced entry's old digest never survives it).
  bool Put(const ZavDigestEntry* entries, uint32_t count);
  bool PutFromFile(const char* name, const char* filePath);
  // As PutFromFile, but a large file is moved into the store rather than
  // copied; on success `filePath` is gone, on failure it is left in place.
  bool MoveFromFile(const char* name, const char* filePath, const char* digest);
  bool Remove(const char* const* names, uint32_t count);
  // Records `digest` for the entry `name` if it still holds `size` bytes.
  bool SetDigest(const char* name, int32_t size, const char* digest);
  bool Checkpoint();
  // Deletes the files of large entries that no row names and whose writer
  // is gone.
  void RemoveAbandonedFiles();

 private:
  // An entry on its way into a commit: its bytes, or the token of the file
  // that already holds them.
  struct Pending {
    const char* name;
    const void* data;
    uint32_t size;
    std::string token;
    std::string digest;  // upper-case, empty when unknown
  };
  // A source file opened for PutFromFile or MoveFromFile.
  struct Source;

  bool IsOpen();
  void CloseLocked();
  bool Begin();
  bool Commit();
  void Rollback();
  // Commits `pending` in one transaction. The files of the entries it
  // replaced are removed afterwards; on failure the pending entries' own
  // files are the caller's to remove.
  bool CommitEntries(const std::vector<Pending>& pending);
  bool InsertRow(const Pending& entry, std::vector<std::string>& replaced);
  // Adds the file of the entry now called `name`, if it has one.
  bool CollectFileOf(const char* name, std::vector<std::string>& tokens);
  void Discard(const std::vector<Pending>& pending);
  // PutFromFile, or with `takeOver` MoveFromFile.
  bool PutFile(const char* name, const char* filePath, bool takeOver, const char* digest);
  bool OpenSource(const char* name, const char* filePath, Source& source);
  bool ReadSmallSource(Source& source, std::vector<char>& bytes);

  ErrorState& errors_;
  std::mutex mutex_;
  Database db_;
  EntryFiles files_;
  Statement begin_, commit_, rollback_, insert_, remove_, fileOf_, fileUsed_, putDigest_, removeDigest_, setDigest_;
};

}  // namespace udra::store

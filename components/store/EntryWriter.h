// The write side of the store: complete entries, each commit all or nothing.
//
// Every write runs in one IMMEDIATE transaction, so another process's reader
// sees an entry only once its commit is in the log, whole. A writer that dies
// mid-entry leaves an uncommitted tail in the log that SQLite ignores.
// Batches put many entries into one commit, which is what makes thousands of
// small entries per second possible.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "components/store/ErrorState.h"
#include "components/store/SqliteDb.h"

namespace udra::store {

class EntryWriter {
 public:
  explicit EntryWriter(ErrorState& errors) : errors_(errors) {}
  ~EntryWriter() { Close(); }
  EntryWriter(const EntryWriter&) = delete;
  EntryWriter& operator=(const EntryWriter&) = delete;

  // Opens a second connection to a database the reader already checked.
  ZavErrorCode Open(const std::string& databasePath);
  void Close();

  bool Put(const ZavEntryData* entries, uint32_t count);
  bool PutFromFile(const char* name, const char* filePath);
  bool Remove(const char* name);
  bool Checkpoint();

 private:
  bool IsOpen();
  void CloseLocked();
  bool Begin();
  bool Commit();
  void Rollback();
  bool Insert(const char* name, const void* data, uint32_t size);
  // The bytes at [offset, offset + n) of an entry being written; null when
  // they cannot be had.
  using ChunkSource = std::function<const void*(uint32_t offset, uint32_t n)>;
  bool InsertStreamed(const char* name, uint32_t size, const ChunkSource& source);

  ErrorState& errors_;
  std::mutex mutex_;
  Database db_;
  Statement begin_, commit_, rollback_, insert_, remove_;
};

}  // namespace udra::store

// This companion exists only on POSIX systems, so it reads files with POSIX.
#include "components/store/EntryWriter.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <initializer_list>
#include <limits>
#include <utility>
#include <vector>

#include "components/store/StoreSchema.h"

namespace udra::store {

namespace {

constexpr uint32_t kMaxEntrySize = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
// Entries up to this size are bound whole; larger ones are written in chunks.
constexpr uint32_t kDirectInsertLimit = 256 * 1024;
constexpr uint32_t kChunk = 1 << 20;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Rolls an open transaction back when an operation leaves early, whether by
// a failure or by an exception, so the write lock is never kept.
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ~ScopeExit() {
    if (active_) f_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  void Dismiss() { active_ = false; }

 private:
  F f_;
  bool active_ = true;
};

// Reads exactly `size` bytes unless the file ends or fails first.
bool ReadFully(int fd, char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = read(fd, buffer + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

ZavErrorCode EntryWriter::Open(const std::string& databasePath) {
  std::lock_guard<std::mutex> lock(mutex_);
  int rc = db_.Open(databasePath, SQLITE_OPEN_READWRITE);
  if (rc == SQLITE_OK) rc = ConfigureConnection(db_);
  sqlite3* db = db_.get();
  if (rc == SQLITE_OK) rc = begin_.Prepare(db, "BEGIN IMMEDIATE");
  if (rc == SQLITE_OK) rc = commit_.Prepare(db, "COMMIT");
  if (rc == SQLITE_OK) rc = rollback_.Prepare(db, "ROLLBACK");
  if (rc == SQLITE_OK) rc = insert_.Prepare(db, "INSERT OR REPLACE INTO entries(name, size, data) VALUES(?1, ?2, ?3)");
  if (rc == SQLITE_OK) rc = remove_.Prepare(db, "DELETE FROM entries WHERE name = ?1");
  if (rc != SQLITE_OK) {
    errors_.FailSqlite(rc);
    CloseLocked();
    return ErrorCodeOf(rc);
  }
  return kZavOk;
}

void EntryWriter::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseLocked();
}

void EntryWriter::CloseLocked() {
  for (Statement* s : {&begin_, &commit_, &rollback_, &insert_, &remove_}) s->Finalize();
  db_.Close();
}

bool EntryWriter::IsOpen() {
  if (db_.IsOpen()) return true;
  errors_.Fail(kZavErrNotOpen);
  return false;
}

bool EntryWriter::Begin() {
  int rc = begin_.Step();
  begin_.Reset();
  if (rc == SQLITE_DONE) return true;
  errors_.FailSqlite(rc);
  return false;
}

bool EntryWriter::Commit() {
  int rc = commit_.Step();
  commit_.Reset();
  if (rc == SQLITE_DONE) return true;
  errors_.FailSqlite(rc);
  Rollback();
  return false;
}

void EntryWriter::Rollback() {
  if (sqlite3_get_autocommit(db_.get())) return;  // SQLite already rolled back
  rollback_.Step();
  rollback_.Reset();
}

bool EntryWriter::Insert(const char* name, const void* data, uint32_t size) {
  if (size > kDirectInsertLimit) {
    // Large entries are written into a reserved blob: binding them whole would
    // make SQLite build a record as large as the entry first.
    const char* bytes = static_cast<const char*>(data);
    return InsertStreamed(name, size, [bytes](uint32_t offset, uint32_t) { return bytes + offset; });
  }
  StatementScope scope(insert_);
  insert_.BindText(1, name);
  insert_.BindInt64(2, size);
  int rc = insert_.BindBlob(3, data, size);
  if (rc == SQLITE_OK) rc = insert_.Step();
  if (rc == SQLITE_DONE) return true;
  errors_.FailSqlite(rc);
  return false;
}

bool EntryWriter::Put(const ZavEntryData* entries, uint32_t count) {
  if (count > 0 && entries == nullptr) {
    errors_.Fail(kZavErrArgument);
    return false;
  }
  // Check everything before the transaction so a bad element changes nothing.
  for (uint32_t i = 0; i < count; ++i) {
    const ZavEntryData& e = entries[i];
    if (!IsValidName(e.name) || e.size > kMaxEntrySize || (e.size > 0 && e.data == nullptr)) {
      errors_.Fail(kZavErrArgument);
      return false;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsOpen()) return false;
  if (count == 0) return true;
  if (!Begin()) return false;
  ScopeExit abort([this] { Rollback(); });
  for (uint32_t i = 0; i < count; ++i) {
    if (!Insert(entries[i].name, entries[i].data, entries[i].size)) return false;
  }
  abort.Dismiss();
  return Commit();
}

bool EntryWriter::PutFromFile(const char* name, const char* filePath) {
  if (!IsValidName(name) || filePath == nullptr || filePath[0] == '\0') {
    errors_.Fail(kZavErrArgument);
    return false;
  }
  FileDescriptor fd(open(filePath, O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    errors_.Fail(kZavErrArgument);
    return false;
  }
  if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > kMaxEntrySize) {
    errors_.Fail(kZavErrArgument);
    return false;
  }
  const uint32_t size = static_cast<uint32_t>(st.st_size);
  std::vector<char> chunk(size < kChunk ? size : kChunk);
  const int file = fd.get();
  auto readNext = [&chunk, file](uint32_t, uint32_t n) -> const void* {
    return ReadFully(file, chunk.data(), n) ? chunk.data() : nullptr;
  };
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsOpen() || !Begin()) return false;
  ScopeExit abort([this] { Rollback(); });
  if (!InsertStreamed(name, size, readNext)) return false;
  abort.Dismiss();
  return Commit();
}

bool EntryWriter::InsertStreamed(const char* name, uint32_t size, const ChunkSource& source) {
  {
    StatementScope scope(insert_);
    insert_.BindText(1, name);
    insert_.BindInt64(2, size);
    int rc = insert_.BindZeroBlob(3, size);
    if (rc == SQLITE_OK) rc = insert_.Step();
    if (rc != SQLITE_DONE) {
      errors_.FailSqlite(rc);
      return false;
    }
  }
  if (size == 0) return true;
  sqlite3_blob* blob = nullptr;
  int rc = sqlite3_blob_open(db_.get(), "main", "entries", "data", sqlite3_last_insert_rowid(db_.get()), 1, &blob);
  uint32_t done = 0;
  while (rc == SQLITE_OK && done < size) {
    uint32_t n = size - done < kChunk ? size - done : kChunk;
    const void* bytes = source(done, n);
    if (bytes == nullptr) {
      sqlite3_blob_close(blob);
      errors_.Fail(kZavErrIo);  // the source file shrank or could not be read
      return false;
    }
    rc = sqlite3_blob_write(blob, bytes, static_cast<int>(n), static_cast<int>(done));
    done += n;
  }
  int closeRc = sqlite3_blob_close(blob);
  if (rc == SQLITE_OK) rc = closeRc;
  if (rc != SQLITE_OK) {
    errors_.FailSqlite(rc);
    return false;
  }
  return true;
}

bool EntryWriter::Remove(const char* name) {
  if (!IsValidName(name)) {
    errors_.Fail(kZavErrArgument);
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsOpen()) return false;
  StatementScope scope(remove_);
  remove_.BindText(1, name);
  int rc = remove_.Step();
  if (rc == SQLITE_DONE) return true;
  errors_.FailSqlite(rc);
  return false;
}

bool EntryWriter::Checkpoint() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsOpen()) return false;
  int rc = sqlite3_wal_checkpoint_v2(db_.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  if (rc == SQLITE_OK) return true;
  errors_.FailSqlite(rc);
  return false;
}

}  // namespace udra::store

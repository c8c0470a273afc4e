#include "components/store/EntryWriter.h"

#include <initializer_list>
#include <limits>
#include <utility>

#include "components/store/StoreFiles.h"
#include "components/store/StoreSchema.h"
#include "platform/FileSystem.h"
#include "platform/RandomAccessFile.h"

namespace udra::store {

namespace {

constexpr uint32_t kMaxEntrySize = 1000000000;

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

// The stored form of a digest: upper-case, empty for none.
std::string DigestOf(const char* digest) {
  std::string text;
  if (!IsDigestText(digest)) return text;
  text.assign(digest, 32);
  for (char& c : text)
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

}  // namespace

struct EntryWriter::Source {
  platform::RandomAccessFile file;
  uint32_t size = 0;
};

ZavErrorCode EntryWriter::Open(const std::string& databasePath, const std::string& filesFolder) {
  std::lock_guard<std::mutex> lock(mutex_);
  int rc = db_.Open(databasePath, SQLITE_OPEN_READWRITE);
  if (rc == SQLITE_OK) rc = ConfigureConnection(db_);
  sqlite3* db = db_.get();
  // The writer folds the log back into the database after every 64 MiB
  // rather than SQLite's 4 MiB, so a burst of small entries is not slowed by
  // checkpoints; writers call Checkpoint when they fall idle.
  if (rc == SQLITE_OK) rc = db_.Exec("PRAGMA wal_autocheckpoint=4096");
  // The writer seldom reads back what it wrote: a cache of 1 MiB (a larger
  // transaction goes to the log in parts) spares it faulting in 8 MiB of
  // fresh memory, which costs more than the reads it would save.
  if (rc == SQLITE_OK) rc = db_.Exec("PRAGMA cache_size=-1024");
  if (rc == SQLITE_OK) rc = begin_.Prepare(db, "BEGIN IMMEDIATE");
  if (rc == SQLITE_OK) rc = commit_.Prepare(db, "COMMIT");
  if (rc == SQLITE_OK) rc = rollback_.Prepare(db, "ROLLBACK");
  if (rc == SQLITE_OK) {
    rc = insert_.Prepare(db, "INSERT OR REPLACE INTO entries(name, size, file, data) VALUES(?1, ?2, ?3, ?4)");
  }
  if (rc == SQLITE_OK) rc = remove_.Prepare(db, "DELETE FROM entries WHERE name = ?1");
  if (rc == SQLITE_OK) rc = fileOf_.Prepare(db, "SELECT file FROM entries WHERE name = ?1 AND file IS NOT NULL");
  if (rc == SQLITE_OK) rc = fileUsed_.Prepare(db, "SELECT 1 FROM entries WHERE file = ?1");
  if (rc == SQLITE_OK) {
    rc = putDigest_.Prepare(db, "INSERT OR REPLACE INTO digests(name, size, digest) VALUES(?1, ?2, ?3)");
  }
  if (rc == SQLITE_OK) rc = removeDigest_.Prepare(db, "DELETE FROM digests WHERE name = ?1");
  if (rc == SQLITE_OK) {
    rc = setDigest_.Prepare(db,
                            "UPDATE digests SET digest = ?3 WHERE name = ?1 AND size = ?2 AND "
                            "EXISTS (SELECT 1 FROM entries WHERE name = ?1 AND size = ?2)");
  }
  if (rc != SQLITE_OK) {
    errors_.FailSqlite(rc);
    CloseLocked();
    return ErrorCodeOf(rc);
  }
  // A folder that cannot be made shows as a failure of the first large entry.
  MakeFolders(filesFolder);
  files_.SetFolder(filesFolder);
  return kZavOk;
}

void EntryWriter::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseLocked();
}

void EntryWriter::CloseLocked() {
  for (Statement* s : {&begin_, &commit_, &rollback_, &insert_, &remove_, &fileOf_, &fileUsed_, &putDigest_,
                       &removeDigest_, &setDigest_})
    s->Finalize();
  db_.Close();
}

bool EntryWriter::IsOpen() {
  if (db_.IsOpen()) return true;
  errors_.Fail(kZavErrNotOpen);
  return false;
}

bool EntryWriter::Begin() {
  const int rc = begin_.Run();
  if (rc == SQLITE_DONE) return true;
  errors_.FailSqlite(rc);
  return false;
}

bool EntryWriter::Commit() {
  const int rc = commit_.Run();
  if (rc == SQLITE_DONE) return true;
  errors_.FailSqlite(rc);
  Rollback();
  return false;
}

void EntryWriter::Rollback() {
  if (sqlite3_get_autocommit(db_.get())) return;  // SQLite already rolled back
  rollback_.Run();
}

bool EntryWriter::CollectFileOf(const char* name, std::vector<std::string>& tokens) {
  StatementScope scope(fileOf_);
  fileOf_.BindText(1, name);
  int rc = fileOf_.Step();
  if (rc == SQLITE_ROW) {
    const char* token = fileOf_.ColumnText(0);
    if (token != nullptr && EntryFiles::IsToken(token)) tokens.emplace_back(token);
    return true;
  }
  if (rc == SQLITE_DONE) return true;
  errors_.FailSqlite(rc);
  return false;
}

bool EntryWriter::InsertRow(const Pending& entry, std::vector<std::string>& replaced) {
  if (!CollectFileOf(entry.name, replaced)) return false;
  StatementScope scope(insert_);
  insert_.BindText(1, entry.name);
  insert_.BindInt64(2, entry.size);
  insert_.BindText(3, entry.token.empty() ? nullptr : entry.token.c_str());
  int rc = insert_.BindBlob(4, entry.token.empty() ? entry.data : nullptr, entry.token.empty() ? entry.size : 0);
  if (rc == SQLITE_OK) rc = insert_.Step();
  if (rc != SQLITE_DONE) {
    errors_.FailSqlite(rc);
    return false;
  }
  StatementScope digestScope(putDigest_);
  putDigest_.BindText(1, entry.name);
  putDigest_.BindInt64(2, entry.size);
  putDigest_.BindText(3, entry.digest.empty() ? nullptr : entry.digest.c_str());
  rc = putDigest_.Step();
  if (rc == SQLITE_DONE) return true;
  errors_.FailSqlite(rc);
  return false;
}

bool EntryWriter::CommitEntries(const std::vector<Pending>& pending) {
  std::vector<std::string> replaced;
  if (!Begin()) return false;
  ScopeExit abort([this] { Rollback(); });
  for (const Pending& entry : pending) {
    if (!InsertRow(entry, replaced)) return false;
  }
  abort.Dismiss();
  if (!Commit()) return false;
  for (const std::string& token : replaced) files_.Remove(token);
  return true;
}

void EntryWriter::Discard(const std::vector<Pending>& pending) {
  for (const Pending& entry : pending) {
    if (!entry.token.empty()) files_.Remove(entry.token);
  }
}

bool EntryWriter::Put(const ZavDigestEntry* entries, uint32_t count) {
  if (count > 0 && entries == nullptr) {
    errors_.Fail(kZavErrArgument);
    return false;
  }
  // Check everything first so a bad element changes nothing.
  for (uint32_t i = 0; i < count; ++i) {
    const ZavDigestEntry& e = entries[i];
    if (!IsValidName(e.name) || e.size > kMaxEntrySize || (e.size > 0 && e.data == nullptr)) {
      errors_.Fail(kZavErrArgument);
      return false;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsOpen()) return false;
  if (count == 0) return true;
  std::vector<Pending> pending;
  pending.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    pending.push_back({entries[i].name, entries[i].data, entries[i].size, std::string(), DigestOf(entries[i].digest)});
    if (entries[i].size < kExternalMinSize) continue;
    const std::string token = EntryFiles::NewToken();
    ZavErrorCode code = files_.WriteNew(token, entries[i].data, entries[i].size);
    if (code != kZavOk) {
      Discard(pending);
      errors_.Fail(code);
      return false;
    }
    pending.back().token = token;
  }
  if (CommitEntries(pending)) return true;
  Discard(pending);
  return false;
}

bool EntryWriter::OpenSource(const char* name, const char* filePath, Source& source) {
  if (!IsValidName(name) || filePath == nullptr || filePath[0] == '\0') {
    errors_.Fail(kZavErrArgument);
    return false;
  }
  bool regular = false;
  uint64_t size = 0;
  if (source.file.Open(filePath, platform::RandomAccessFile::Mode::kRead) != platform::FileError::kNone ||
      !source.file.Describe(regular, size) || !regular || size > kMaxEntrySize) {
    errors_.Fail(kZavErrArgument);
    return false;
  }
  source.size = static_cast<uint32_t>(size);
  return true;
}

bool EntryWriter::ReadSmallSource(Source& source, std::vector<char>& bytes) {
  bytes.resize(source.size);
  if (source.file.ReadAt(bytes.data(), bytes.size(), 0) == platform::FileError::kNone) return true;
  errors_.Fail(kZavErrIo);  // the file shrank or could not be read
  return false;
}

bool EntryWriter::PutFromFile(const char* name, const char* filePath) {
  return PutFile(name, filePath, false, nullptr);
}

bool EntryWriter::MoveFromFile(const char* name, const char* filePath, const char* digest) {
  return PutFile(name, filePath, true, digest);
}

bool EntryWriter::PutFile(const char* name, const char* filePath, bool takeOver, const char* digest) {
  Source source;
  if (!OpenSource(name, filePath, source)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsOpen()) return false;
  std::vector<char> bytes;
  std::vector<Pending> pending{{name, nullptr, source.size, std::string(), DigestOf(digest)}};
  bool moved = false;
  if (source.size < kExternalMinSize) {
    if (!ReadSmallSource(source, bytes)) return false;
    pending[0].data = bytes.data();
  } else {
    const std::string token = EntryFiles::NewToken();
    ZavErrorCode code = takeOver ? files_.MoveNew(token, filePath, source.file, source.size, moved)
                                 : files_.CopyNew(token, source.file, source.size);
    if (code != kZavOk) {
      errors_.Fail(code);
      return false;
    }
    pending[0].token = token;
  }
  if (!CommitEntries(pending)) {
    if (!moved || !files_.MoveBack(pending[0].token, filePath)) Discard(pending);
    return false;
  }
  if (takeOver && !moved) platform::RemoveFileIfPresent(filePath);  // stored from a copy: the caller's file goes now
  return true;
}

bool EntryWriter::Remove(const char* const* names, uint32_t count) {
  if (count > 0 && names == nullptr) {
    errors_.Fail(kZavErrArgument);
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsOpen()) return false;
  if (count == 0) return true;
  if (!Begin()) return false;
  ScopeExit abort([this] { Rollback(); });
  std::vector<std::string> removed;
  for (uint32_t i = 0; i < count; ++i) {
    if (!IsValidName(names[i])) continue;
    if (!CollectFileOf(names[i], removed)) return false;
    for (Statement* statement : {&remove_, &removeDigest_}) {
      StatementScope scope(*statement);
      statement->BindText(1, names[i]);
      const int rc = statement->Step();
      if (rc != SQLITE_DONE) {
        errors_.FailSqlite(rc);
        return false;
      }
    }
  }
  abort.Dismiss();
  if (!Commit()) return false;
  for (const std::string& token : removed) files_.Remove(token);
  return true;
}

bool EntryWriter::SetDigest(const char* name, int32_t size, const char* digest) {
  const std::string text = DigestOf(digest);
  if (!IsValidName(name) || text.empty()) {
    errors_.Fail(kZavErrArgument);
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsOpen()) return false;
  StatementScope scope(setDigest_);
  setDigest_.BindText(1, name);
  setDigest_.BindInt64(2, size);
  setDigest_.BindText(3, text.c_str());
  const int rc = setDigest_.Step();
  if (rc != SQLITE_DONE) {
    errors_.FailSqlite(rc);
    return false;
  }
  if (sqlite3_changes(db_.get()) == 1) return true;
  errors_.Fail(kZavErrChanged);  // absent, or replaced since it was read
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

void EntryWriter::RemoveAbandonedFiles() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!db_.IsOpen()) return;
  files_.RemoveAbandoned([this](const std::string& token) {
    StatementScope scope(fileUsed_);
    fileUsed_.BindText(1, token.c_str());
    return fileUsed_.Step() != SQLITE_DONE;  // kept when named, or when that cannot be told
  });
}

}  // namespace udra::store

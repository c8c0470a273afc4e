#include "components/store/StoreSchema.h"

#include <initializer_list>
#include <string>

namespace udra::store {

namespace {

constexpr int kBusyTimeoutMs = 5000;

constexpr const char kCreateDigests[] =
    "CREATE TABLE IF NOT EXISTS digests("
    "  name TEXT PRIMARY KEY COLLATE NOCASE,"
    "  size INTEGER NOT NULL,"
    "  digest TEXT) WITHOUT ROWID;";

}  // namespace

ZavErrorCode LoadFailureOf(int sqliteResult) {
  if ((sqliteResult & 0xFF) == SQLITE_IOERR) return kZavErrUnreadable;
  ZavErrorCode code = ErrorCodeOf(sqliteResult);
  return code == kZavErrIo ? kZavErrDamaged : code;
}

ZavErrorCode ErrorCodeOf(int sqliteResult) {
  switch (sqliteResult & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return kZavOk;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
      return kZavErrDamaged;
    case SQLITE_FULL:
      return kZavErrDiskFull;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kZavErrBusy;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH:
      return kZavErrUnreadable;
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
    case SQLITE_MISMATCH:
      return kZavErrArgument;
    default:
      return kZavErrIo;
  }
}

int ConfigureConnection(Database& db) {
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  // The journal mode is stored in the file, so this also tells whether the
  // file is a database at all.
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db.get(), "PRAGMA journal_mode=WAL", -1, &stmt, nullptr);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_step(stmt);
  bool wal = false;
  if (rc == SQLITE_ROW) {
    const unsigned char* mode = sqlite3_column_text(stmt, 0);
    wal = mode != nullptr && std::string(reinterpret_cast<const char*>(mode)) == "wal";
    rc = SQLITE_OK;
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_OK) return rc;
  if (!wal) return SQLITE_CANTOPEN;  // e.g. a file system without shared memory
  // Log files are cut back to 64 MiB after a checkpoint so that one large
  // entry does not leave a large log behind.
  return db.Exec(
      "PRAGMA synchronous=NORMAL;"
      "PRAGMA journal_size_limit=67108864;"
      "PRAGMA cache_size=-8192;");
}

int CreateSchema(Database& db) {
  // Larger pages keep the chains of overflow pages that hold big entries
  // short; this only takes effect before the first table is created.
  int rc = db.Exec("PRAGMA page_size=16384");
  if (rc != SQLITE_OK) return rc;
  std::string sql =
      "BEGIN IMMEDIATE;"
      "CREATE TABLE entries("
      "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
      "  name TEXT NOT NULL COLLATE NOCASE,"
      "  size INTEGER NOT NULL,"
      "  file TEXT,"
      "  data BLOB NOT NULL);"
      "CREATE UNIQUE INDEX entries_by_name ON entries(name);"
      "CREATE INDEX entries_by_file ON entries(file) WHERE file IS NOT NULL;" +
      std::string(kCreateDigests) +
      "PRAGMA application_id=" + std::to_string(kStoreApplicationId) + ";"
      "PRAGMA user_version=" + std::to_string(kStoreFormatVersion) + ";"
      "COMMIT;";
  rc = db.Exec(sql.c_str());
  if (rc != SQLITE_OK) db.Exec("ROLLBACK");
  return rc;
}

int MigrateSchema(Database& db) {
  int rc = db.Exec("BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) return rc;
  // Checked again inside the write transaction: another process may have
  // migrated the store meanwhile.
  int64_t applicationId = 0;
  int64_t version = 0;
  rc = db.QueryInt64("PRAGMA application_id", applicationId);
  if (rc == SQLITE_OK) rc = db.QueryInt64("PRAGMA user_version", version);
  if (rc == SQLITE_OK && applicationId == kStoreApplicationId && version == kStoreMigratableVersion) {
    const std::string sql =
        std::string(kCreateDigests) + "INSERT OR IGNORE INTO digests(name, size) SELECT name, size FROM entries;" +
        "PRAGMA user_version=" + std::to_string(kStoreFormatVersion) + ";";
    rc = db.Exec(sql.c_str());
  }
  if (rc == SQLITE_OK) rc = db.Exec("COMMIT");
  if (rc != SQLITE_OK) db.Exec("ROLLBACK");
  return rc;
}

ZavErrorCode VerifySchema(Database& db, int& sqliteResult) {
  int64_t applicationId = 0;
  int64_t version = 0;
  sqliteResult = db.QueryInt64("PRAGMA application_id", applicationId);
  if (sqliteResult == SQLITE_OK) sqliteResult = db.QueryInt64("PRAGMA user_version", version);
  if (sqliteResult != SQLITE_OK) return LoadFailureOf(sqliteResult);
  // Another program's database, or an empty one, is no store: damaged. Our
  // mark with another version is a store of another format.
  if (applicationId != kStoreApplicationId) return kZavErrDamaged;
  if (version != kStoreFormatVersion) return kZavErrVersion;

  sqlite3_stmt* stmt = nullptr;
  sqliteResult =
      sqlite3_prepare_v2(db.get(), "SELECT id, name, size, file, data FROM entries LIMIT 0", -1, &stmt, nullptr);
  sqlite3_finalize(stmt);
  if (sqliteResult == SQLITE_OK) {
    sqliteResult = sqlite3_prepare_v2(db.get(), "SELECT name, size, digest FROM digests LIMIT 0", -1, &stmt, nullptr);
    sqlite3_finalize(stmt);
  }
  if (sqliteResult != SQLITE_OK) return LoadFailureOf(sqliteResult);

  // The name index is small (names only) and is what every lookup descends,
  // as is the index of large entries' files (walked when the store opens to
  // find abandoned files); the table itself is only probed at both ends, since its leaf pages also
  // hold the first part of every entry's bytes and walking them would read a
  // large part of the store at each start.
  int64_t value = 0;
  for (const char* sql : {"SELECT count(*) FROM entries INDEXED BY entries_by_name", "SELECT count(*) FROM digests",
                          "SELECT count(*) FROM entries INDEXED BY entries_by_file WHERE file IS NOT NULL",
                          "SELECT ifnull(max(id), 0) FROM entries", "SELECT ifnull(min(id), 0) FROM entries"}) {
    sqliteResult = db.QueryInt64(sql, value);
    if (sqliteResult != SQLITE_OK) return LoadFailureOf(sqliteResult);
  }
  return kZavOk;
}

}  // namespace udra::store

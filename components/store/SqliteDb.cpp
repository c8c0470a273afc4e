#include "components/store/SqliteDb.h"

#include "platform/FileSystem.h"

namespace udra::store {

Statement::~Statement() { Finalize(); }

int Statement::Prepare(sqlite3* db, const char* sql) {
  Finalize();
  return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
}

void Statement::Finalize() {
  if (stmt_ != nullptr) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

int Statement::BindText(int index, const char* text) {
  return sqlite3_bind_text(stmt_, index, text, -1, SQLITE_STATIC);
}

int Statement::BindInt64(int index, int64_t value) { return sqlite3_bind_int64(stmt_, index, value); }

int Statement::BindBlob(int index, const void* data, uint32_t size) {
  // A null pointer would bind NULL rather than an empty blob.
  static const char kEmpty = 0;
  return sqlite3_bind_blob64(stmt_, index, size == 0 ? &kEmpty : data, size, SQLITE_STATIC);
}

int Statement::Step() { return sqlite3_step(stmt_); }

int64_t Statement::ColumnInt64(int index) const { return sqlite3_column_int64(stmt_, index); }

const char* Statement::ColumnText(int index) const {
  return reinterpret_cast<const char*>(sqlite3_column_text(stmt_, index));
}

int Statement::Run() {
  const int rc = Step();
  Reset();
  return rc;
}

void Statement::Reset() {
  if (stmt_ != nullptr) {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
}

Database::~Database() { Close(); }

int Database::Open(const std::string& path, int flags) {
  Close();
  // SQLite takes UTF-8 names; the store's paths are in the system's encoding.
  const std::string name = platform::PathForUtf8Api(path);
  if (name.empty()) return SQLITE_CANTOPEN;
  int rc = sqlite3_open_v2(name.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    Close();  // sqlite3_open_v2 may hand out a connection even on failure
    return rc;
  }
  sqlite3_extended_result_codes(db_, 1);
  return SQLITE_OK;
}

void Database::Close() {
  if (db_ != nullptr) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
}

int Database::Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

int Database::QueryInt64(const char* sql, int64_t& value) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) {
    value = sqlite3_column_int64(stmt, 0);
    rc = SQLITE_OK;
  } else if (rc == SQLITE_DONE) {
    rc = SQLITE_ERROR;  // no row where one was expected
  }
  sqlite3_finalize(stmt);
  return rc;
}

int Database::ExtendedErrorCode() const { return db_ != nullptr ? sqlite3_extended_errcode(db_) : SQLITE_MISUSE; }

}  // namespace udra::store

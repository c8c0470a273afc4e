// Thin owners of an SQLite connection and its prepared statements.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace udra::store {

// One prepared statement; reset (and its bindings cleared) when it goes out
// of use through StatementScope.
class Statement {
 public:
  Statement() = default;
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  int Prepare(sqlite3* db, const char* sql);
  void Finalize();
  sqlite3_stmt* get() const { return stmt_; }

  // A null text binds NULL.
  int BindText(int index, const char* text);
  int BindInt64(int index, int64_t value);
  // The bytes must stay alive until the statement is reset.
  int BindBlob(int index, const void* data, uint32_t size);
  int Step();
  // Steps once and resets: for statements without rows (BEGIN, COMMIT).
  int Run();
  int64_t ColumnInt64(int index) const;
  const char* ColumnText(int index) const;
  void Reset();

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Resets a statement when the scope ends, so no statement keeps a read
// transaction open between operations.
class StatementScope {
 public:
  explicit StatementScope(Statement& s) : s_(s) {}
  ~StatementScope() { s_.Reset(); }
  StatementScope(const StatementScope&) = delete;
  StatementScope& operator=(const StatementScope&) = delete;

 private:
  Statement& s_;
};

// An open database connection.
class Database {
 public:
  Database() = default;
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // SQLITE_OPEN_* flags; the connection is always opened without SQLite's own
  // mutex (its users serialise access themselves). Returns the result code.
  int Open(const std::string& path, int flags);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  sqlite3* get() const { return db_; }

  // Runs statements without results; returns the result code.
  int Exec(const char* sql);
  // Runs a statement whose first row's first column is an integer.
  int QueryInt64(const char* sql, int64_t& value);
  int ExtendedErrorCode() const;

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace udra::store

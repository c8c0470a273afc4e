#include "RecordStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>

#include "JsonText.h"

namespace qosd {
namespace {

constexpr int kBusyWaitMs = 10000;

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS records(id INTEGER PRIMARY KEY, received INTEGER NOT NULL, sender TEXT NOT NULL,"
    " seq INTEGER NOT NULL, kind INTEGER, version TEXT, uin TEXT, client TEXT, digest TEXT, use_percent INTEGER);"
    "CREATE TABLE IF NOT EXISTS paths(record INTEGER NOT NULL REFERENCES records(id), kind INTEGER NOT NULL,"
    " client TEXT, path TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS paths_by_kind ON paths(kind, path);"
    "CREATE INDEX IF NOT EXISTS records_by_kind ON records(kind, received);";

std::string Slot(const char* slot, size_t size) { return udra::tool::Utf8FromAnsi(std::string(slot, strnlen(slot, size))); }

void BindText(sqlite3_stmt* s, int at, const std::string& text) {
  sqlite3_bind_text(s, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

}  // namespace

RecordStore::~RecordStore() {
  sqlite3_finalize(record_);
  sqlite3_finalize(path_);
  if (db_) sqlite3_close(db_);
}

bool RecordStore::Fail() {
  error_ = db_ ? sqlite3_errmsg(db_) : "cannot open the database";
  return false;
}

bool RecordStore::Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK || Fail(); }

bool RecordStore::Open(const std::string& path, std::string& error) {
  const bool ok = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK &&
                  sqlite3_busy_timeout(db_, kBusyWaitMs) == SQLITE_OK && Exec("PRAGMA journal_mode=WAL") &&
                  Exec("PRAGMA synchronous=NORMAL") && Exec(kSchema) &&
                  sqlite3_prepare_v2(db_,
                                     "INSERT INTO records(received,sender,seq,kind,version,uin,client,digest,use_percent)"
                                     " VALUES(?,?,?,?,?,?,?,?,?)",
                                     -1, &record_, nullptr) == SQLITE_OK &&
                  sqlite3_prepare_v2(db_, "INSERT INTO paths(record,kind,client,path) VALUES(?,?,?,?)", -1, &path_,
                                     nullptr) == SQLITE_OK;
  if (!ok) {
    if (error_.empty()) Fail();
    error = path + ": " + error_;
  }
  return ok;
}

bool RecordStore::Begin() { return Exec("BEGIN IMMEDIATE"); }

bool RecordStore::Commit() { return Exec("COMMIT"); }

void RecordStore::Rollback() {
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool RecordStore::Add(const udra::qos::QOSCSQosRep& record, const std::string& sender, uint32_t seq, int64_t time) {
  using namespace udra::qos;
  const bool comm = record.AppendDescFlag == QOS_APPEND_DESC_COMM;
  const QOSAppendDescComm& c = record.AppendDesc.Comm;
  const int32_t strings = comm ? std::min<int32_t>(c.StrNum, QOS_CS_ADINFO_MAX_STR) : 0;
  const int32_t ints = comm ? std::min<int32_t>(c.IntNum, QOS_CS_ADINFO_MAX_INT) : 0;
  auto str = [&](int32_t i) { return i < strings ? Slot(c.StrList[i], sizeof c.StrList[i]) : std::string(); };
  const bool hasKind = ints > 0;
  const int32_t kind = hasKind ? c.IntList[0] : -1;

  sqlite3_reset(record_);
  sqlite3_clear_bindings(record_);
  sqlite3_bind_int64(record_, 1, time);
  BindText(record_, 2, sender);
  sqlite3_bind_int64(record_, 3, seq);
  if (hasKind) sqlite3_bind_int(record_, 4, kind);
  if (strings > 0) BindText(record_, 5, str(0));
  if (strings > 1) BindText(record_, 6, str(1));
  if (strings > 2) BindText(record_, 7, str(2));
  if (kind == 0 && strings > 3) BindText(record_, 8, str(3));
  if (kind == 0 && ints > 1) sqlite3_bind_int(record_, 9, c.IntList[1]);
  if (sqlite3_step(record_) != SQLITE_DONE) return Fail();
  const sqlite3_int64 id = sqlite3_last_insert_rowid(db_);
  if (kind < 1 || kind > 3) return true;
  const std::string client = str(2);
  for (int32_t i = 3; i < strings; ++i) {
    sqlite3_reset(path_);
    sqlite3_bind_int64(path_, 1, id);
    sqlite3_bind_int(path_, 2, kind);
    BindText(path_, 3, client);
    BindText(path_, 4, str(i));
    if (sqlite3_step(path_) != SQLITE_DONE) return Fail();
  }
  return true;
}

}  // namespace qosd

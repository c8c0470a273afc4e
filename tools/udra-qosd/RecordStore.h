// The collector's SQLite store of report records (udra-qosd --db). Several
// collectors may write one store at once: it is in WAL mode and each packet
// is one short transaction that waits for the others.
//
// Schema (texts in UTF-8, converted from GBK):
//   records  one row per report record
//     id          INTEGER PRIMARY KEY
//     received    INTEGER  Unix time the collector got it
//     sender      TEXT     "ip:port" of the client
//     seq         INTEGER  the packet's sequence number
//     kind        INTEGER  0 summary, 1 heavily used, 2 missing, 3 failed downloads;
//                          NULL for a record without the common description
//     version, uin, client  TEXT  the first three strings (library version,
//                          user id, client GUID)
//     digest      TEXT     summary: the file-list digest
//     use_percent INTEGER  summary: the share of known resources used this run
//   paths    one row per path of a kind 1-3 record
//     record      INTEGER  records.id
//     kind        INTEGER  as records.kind
//     client      TEXT     as records.client
//     path        TEXT
#pragma once

#include <cstdint>
#include <string>

#include "qos/QosRecords.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qosd {

class RecordStore {
 public:
  RecordStore() = default;
  ~RecordStore();
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  // Opens or creates the store; false with a message in `error`.
  bool Open(const std::string& path, std::string& error);
  // A packet's records go in one transaction: Begin, Add..., Commit.
  bool Begin();
  bool Add(const udra::qos::QOSCSQosRep& record, const std::string& sender, uint32_t seq, int64_t time);
  bool Commit();
  void Rollback();
  const std::string& lastError() const { return error_; }

 private:
  bool Exec(const char* sql);
  bool Fail();

  sqlite3* db_ = nullptr;
  sqlite3_stmt* record_ = nullptr;
  sqlite3_stmt* path_ = nullptr;
  std::string error_;
};

}  // namespace qosd

#include "components/store/EntryReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "components/store/StoreSchema.h"

namespace udra::store {

ZavErrorCode EntryReader::Open(const std::string& databasePath, const std::string& filesFolder) {
  std::lock_guard<std::mutex> lock(mutex_);
  files_.SetFolder(filesFolder);
  int rc = db_.Open(databasePath, SQLITE_OPEN_READWRITE);
  if (rc == SQLITE_OK) rc = ConfigureConnection(db_);
  ZavErrorCode code = rc == SQLITE_OK ? VerifySchema(db_, rc) : LoadFailureOf(rc);
  if (code == kZavErrVersion) {
    // A store of the previous format keeps its entries: it is brought up to
    // date in place (their digests become unknown), never rebuilt.
    rc = MigrateSchema(db_);
    code = rc == SQLITE_OK ? VerifySchema(db_, rc) : LoadFailureOf(rc);
  }
  if (code == kZavOk) code = Prepare();
  if (code == kZavOk && db_.Exec("PRAGMA query_only=1") != SQLITE_OK) code = kZavErrIo;
  if (code != kZavOk) {
    if (rc == SQLITE_OK) rc = db_.ExtendedErrorCode();
    errors_.Fail(code, rc);
    CloseLocked();
  }
  return code;
}

ZavErrorCode EntryReader::Prepare() {
  sqlite3* db = db_.get();
  int rc = begin_.Prepare(db, "BEGIN");
  if (rc == SQLITE_OK) rc = commit_.Prepare(db, "COMMIT");
  if (rc == SQLITE_OK) rc = byName_.Prepare(db, "SELECT id, size, file FROM entries WHERE name = ?1");
  if (rc == SQLITE_OK) rc = byId_.Prepare(db, "SELECT size, file FROM entries WHERE id = ?1 AND name = ?2");
  if (rc == SQLITE_OK) rc = count_.Prepare(db, "SELECT count(*) FROM entries");
  if (rc == SQLITE_OK) rc = digestOf_.Prepare(db, "SELECT digest FROM digests WHERE name = ?1");
  if (rc == SQLITE_OK) {
    rc = digestPage_.Prepare(db, "SELECT name, size, digest FROM digests WHERE name > ?1 ORDER BY name LIMIT ?2");
  }
  if (rc == SQLITE_OK) {
    rc = page_.Prepare(db, "SELECT name, size FROM entries WHERE name > ?1 ORDER BY name LIMIT ?2");
  }
  return rc == SQLITE_OK ? kZavOk : ErrorCodeOf(rc);
}

void EntryReader::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseLocked();
}

void EntryReader::CloseLocked() {
  for (Statement* s : {&begin_, &commit_, &byName_, &byId_, &count_, &page_, &digestOf_, &digestPage_}) s->Finalize();
  db_.Close();
}

bool EntryReader::IsOpen() {
  if (db_.IsOpen()) return true;
  errors_.Fail(kZavErrNotOpen);
  return false;
}

bool EntryReader::Lookup(const char* name, EntryRef& ref) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsOpen()) return false;
  // A missing file may also be one a writer replaced just after the row was
  // read: a second look sees the new row.
  for (int attempt = 0; attempt < 2; ++attempt) {
    switch (LookupRow(name, ref)) {
      case Found::kYes:
        if (Intact(ref)) return true;
        break;
      case Found::kNo:
        errors_.Fail(kZavErrNotFound);
        return false;
      case Found::kFailed:
        return false;
    }
  }
  errors_.Fail(kZavErrNotFound);
  return false;
}

bool EntryReader::Digests(const char* const* names, uint32_t count, int32_t* sizes, ZavDigestText* digests) {
  std::fill(sizes, sizes + count, -1);
  if (digests) std::fill(digests, digests + count, ZavDigestText{});
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsOpen() || !Begin()) return false;
  bool ok = true;
  for (uint32_t i = 0; ok && i < count; ++i) {
    if (names[i] == nullptr) continue;
    EntryRef ref;
    const Found found = LookupRow(names[i], ref);
    if (found == Found::kFailed) ok = false;
    if (found != Found::kYes || !Intact(ref)) continue;
    sizes[i] = ref.size;
    if (digests && !DigestOf(names[i], digests[i])) ok = false;
  }
  End();
  if (!ok) {
    std::fill(sizes, sizes + count, -1);
    if (digests) std::fill(digests, digests + count, ZavDigestText{});
  }
  return ok;
}

bool EntryReader::DigestOf(const char* name, ZavDigestText& digest) {
  StatementScope scope(digestOf_);
  digestOf_.BindText(1, name);
  const int rc = digestOf_.Step();
  if (rc == SQLITE_DONE) return true;
  if (rc != SQLITE_ROW) {
    errors_.FailSqlite(rc);
    return false;
  }
  // A digest that is not one reads as unknown: the entry is then checked by
  // its bytes, which is what an unknown digest means.
  const char* text = digestOf_.ColumnText(0);
  if (IsDigestText(text)) std::memcpy(digest.text, text, kZavDigestField);
  return true;
}

namespace {

// IsDigestText without a branch per digit: the listing checks every entry's.
bool IsDigestColumn(const char* text) {
  if (text == nullptr || strnlen(text, kZavDigestField) != kZavDigestField - 1) return false;
  static const auto kHex = [] {
    std::array<bool, 256> table{};
    for (const char* c = "0123456789abcdefABCDEF"; *c; ++c) table[static_cast<unsigned char>(*c)] = true;
    return table;
  }();
  bool hex = true;
  for (uint32_t i = 0; i + 1 < kZavDigestField; ++i) hex &= kHex[static_cast<unsigned char>(text[i])];
  return hex;
}

}  // namespace

// The rows of `out` from the previous page are overwritten in place, so that
// a listing page after page reuses their strings instead of allocating two
// per entry.
bool EntryReader::DigestPage(const std::string& after, size_t limit, std::vector<DigestRow>& out) {
  size_t rows = 0;
  const bool ok = [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!IsOpen()) return false;
    StatementScope scope(digestPage_);
    digestPage_.BindText(1, after.c_str());
    digestPage_.BindInt64(2, static_cast<int64_t>(limit));
    int rc;
    while ((rc = digestPage_.Step()) == SQLITE_ROW) {
      const char* name = digestPage_.ColumnText(0);
      const int64_t size = digestPage_.ColumnInt64(1);
      const char* digest = digestPage_.ColumnText(2);
      if (name == nullptr || size < 0 || size > std::numeric_limits<int32_t>::max()) {
        errors_.Fail(kZavErrDamaged, SQLITE_CORRUPT);
        return false;
      }
      if (rows == out.size()) out.emplace_back();
      DigestRow& row = out[rows++];
      row.name.assign(name);
      row.size = static_cast<int32_t>(size);
      if (IsDigestColumn(digest)) {
        row.digest.assign(digest, kZavDigestField - 1);
      } else {
        row.digest.clear();
      }
    }
    if (rc != SQLITE_DONE) {
      errors_.FailSqlite(rc);
      return false;
    }
    return true;
  }();
  out.resize(ok ? rows : 0);
  return ok;
}

// A large entry's file is there in full: one lost in a crash, cut short or
// removed by hand makes its entry count as absent.
bool EntryReader::Intact(const EntryRef& ref) {
  return ref.file.empty() || files_.Holds(ref.file, static_cast<uint32_t>(ref.size));
}

// A read transaction: everything read until End sees one snapshot.
bool EntryReader::Begin() {
  const int rc = begin_.Run();
  if (rc == SQLITE_DONE) return true;
  errors_.FailSqlite(rc);
  return false;
}

void EntryReader::End() {
  const int rc = commit_.Run();
  if (rc != SQLITE_DONE) db_.Exec("ROLLBACK");
}

EntryReader::Found EntryReader::LookupRow(const char* name, EntryRef& ref) {
  StatementScope scope(byName_);
  byName_.BindText(1, name);
  int rc = byName_.Step();
  if (rc == SQLITE_DONE) return Found::kNo;
  if (rc != SQLITE_ROW) {
    errors_.FailSqlite(rc);
    return Found::kFailed;
  }
  int64_t size = byName_.ColumnInt64(1);
  const char* file = byName_.ColumnText(2);
  if (size < 0 || size > std::numeric_limits<int32_t>::max() || (file != nullptr && !EntryFiles::IsToken(file))) {
    errors_.Fail(kZavErrDamaged, SQLITE_CORRUPT);
    return Found::kFailed;
  }
  ref.id = byName_.ColumnInt64(0);
  ref.size = static_cast<int32_t>(size);
  ref.name = name;
  ref.file = file != nullptr ? file : "";
  return Found::kYes;
}

bool EntryReader::Read(const EntryRef& ref, uint32_t offset, void* buffer, uint32_t capacity, bool whole,
                       uint32_t& delivered) {
  delivered = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsOpen()) return false;
  // One read transaction: the size check and the copy see the same snapshot.
  if (!Begin()) return false;
  bool ok = false;
  int rc;
  {
    StatementScope scope(byId_);
    byId_.BindInt64(1, ref.id);
    byId_.BindText(2, ref.name.c_str());
    rc = byId_.Step();
    const char* file = rc == SQLITE_ROW ? byId_.ColumnText(1) : nullptr;
    const bool same = rc == SQLITE_ROW && byId_.ColumnInt64(0) == ref.size && ref.file == (file ? file : "");
    if (rc == SQLITE_DONE || (rc == SQLITE_ROW && !same)) {
      errors_.Fail(kZavErrChanged);
    } else if (rc != SQLITE_ROW) {
      errors_.FailSqlite(rc);
    } else {
      uint32_t size = static_cast<uint32_t>(ref.size);
      uint32_t count = 0;
      if (whole) {
        count = size;
        offset = 0;
      } else if (offset < size) {
        count = size - offset < capacity ? size - offset : capacity;
      }
      if (whole && size > capacity) {
        errors_.Fail(kZavErrTooSmall);
      } else if (count > 0 && buffer == nullptr) {
        errors_.Fail(kZavErrArgument);
      } else {
        ok = count == 0 || Copy(ref, offset, buffer, count);
        if (ok) delivered = count;
      }
    }
  }
  End();
  return ok;
}

bool EntryReader::Copy(const EntryRef& ref, uint32_t offset, void* buffer, uint32_t count) {
  const uint32_t size = static_cast<uint32_t>(ref.size);
  if (ref.file.empty()) return CopyBlob(ref.id, offset, buffer, count, size);
  ZavErrorCode code = files_.Read(ref.file, size, offset, buffer, count);
  if (code == kZavOk) return true;
  errors_.Fail(code);
  return false;
}

bool EntryReader::CopyBlob(int64_t id, uint32_t offset, void* buffer, uint32_t count, uint32_t expectedSize) {
  sqlite3_blob* blob = nullptr;
  int rc = sqlite3_blob_open(db_.get(), "main", "entries", "data", id, 0, &blob);
  if (rc == SQLITE_OK) {
    if (static_cast<uint32_t>(sqlite3_blob_bytes(blob)) != expectedSize) {
      rc = SQLITE_CORRUPT;  // the size column disagrees with the bytes stored
    } else {
      rc = sqlite3_blob_read(blob, buffer, static_cast<int>(count), static_cast<int>(offset));
    }
  }
  sqlite3_blob_close(blob);
  if (rc != SQLITE_OK) {
    errors_.FailSqlite(rc);
    return false;
  }
  return true;
}

int32_t EntryReader::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsOpen()) return -1;
  StatementScope scope(count_);
  int rc = count_.Step();
  if (rc != SQLITE_ROW) {
    errors_.FailSqlite(rc);
    return -1;
  }
  int64_t n = count_.ColumnInt64(0);
  return n > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(n);
}

bool EntryReader::Page(const std::string& after, size_t limit, std::vector<std::pair<std::string, int32_t>>& out) {
  out.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsOpen()) return false;
  StatementScope scope(page_);
  page_.BindText(1, after.c_str());
  page_.BindInt64(2, static_cast<int64_t>(limit));
  int rc;
  while ((rc = page_.Step()) == SQLITE_ROW) {
    const char* name = page_.ColumnText(0);
    int64_t size = page_.ColumnInt64(1);
    if (name == nullptr || size < 0 || size > std::numeric_limits<int32_t>::max()) {
      errors_.Fail(kZavErrDamaged, SQLITE_CORRUPT);
      return false;
    }
    out.emplace_back(name, static_cast<int32_t>(size));
  }
  if (rc != SQLITE_DONE) {
    errors_.FailSqlite(rc);
    return false;
  }
  return true;
}

}  // namespace udra::store

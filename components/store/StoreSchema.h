// The store's database layout, its creation, checks and connection settings.
//
// One table, one row per entry:
//   entries(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT COLLATE NOCASE,
//           size, file TEXT, data BLOB)
// with a unique index on name (SQLite's NOCASE folds ASCII letters only, as
// entry names are compared). An entry's bytes are either in data, or, for a
// large entry, in the file of the store's files folder that file names (data
// is then empty; see EntryFiles.h); a partial index lists those rows. size
// and file come before data so that looking them up never reads the entry's
// bytes. Row ids are never reused, so a replaced entry always has a new one.
// A second table has a row for every entry, written in the same commit, with
// its size and the packed digest it was verified against (NULL when not
// known):
//   digests(name TEXT PRIMARY KEY COLLATE NOCASE, size, digest TEXT) WITHOUT ROWID
// It is a table of its own so that what is known of every entry can be read
// in one quick scan without touching the entries' bytes, and so that a store
// of format 2 gains it without its entries being rewritten.
// The database header's application id marks the file as a store and its
// user version is the format version.
#pragma once

#include "components/store/SqliteDb.h"
#include "core/IZav.h"

namespace udra::store {

constexpr int32_t kStoreApplicationId = 0x5A415631;  // "ZAV1"
constexpr int32_t kStoreFormatVersion = 3;
// Stores of this format are brought up to the current one when opened.
constexpr int32_t kStoreMigratableVersion = 2;

// The store's code for an SQLite result code.
ZavErrorCode ErrorCodeOf(int sqliteResult);

// The store's code for a failure while opening or checking a store for use:
// a missing table, column or index is damage, a file that cannot be read is
// unreadable (both cured by a rebuild); busy stays busy, so a store another
// process holds is never rebuilt.
ZavErrorCode LoadFailureOf(int sqliteResult);

// Settings every connection gets: WAL journal, a busy wait, synchronous
// NORMAL. With WAL, NORMAL never loses or tears a committed entry when a
// process dies; after a power loss the last commits may be missing, but the
// database stays consistent and no entry is ever partly visible.
int ConfigureConnection(Database& db);

// Builds the empty store in a freshly created database file.
int CreateSchema(Database& db);

// Brings a store of kStoreMigratableVersion to the current format in one
// commit, keeping every entry (with its size; its digest is not known). Returns
// the SQLite result code; SQLITE_OK also when there was nothing to do.
int MigrateSchema(Database& db);

// Checks a store opened for use: header marks, format version, the table's
// shape, a walk over the name index and a probe of the table. The cost grows
// with the number of names, never with the entries' bytes; damage inside an
// entry shows when it is read, and leaves the damage marker then.
// Returns kZavOk, kZavErrDamaged, kZavErrVersion, or another code when the
// database could not be read at all; `sqliteResult` gets the engine's code of
// the failure.
ZavErrorCode VerifySchema(Database& db, int& sqliteResult);

}  // namespace udra::store

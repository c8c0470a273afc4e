// The files of a store inside its folder, and the disk around them.
//
// A store folder holds the database "ZAV.db" with SQLite's "ZAV.db-wal" and
// "ZAV.db-shm" beside it, and the folder "ZAV.files" with the large entries
// (EntryFiles.h). "ZAV.damaged" marks a store found damaged while in
// use: the next Load reports it as damaged so that its owner rebuilds it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace udra::store {

struct StorePaths {
  explicit StorePaths(const std::string& folder);

  std::string folder;
  std::string database;
  std::string wal;
  std::string shm;
  std::string files;
  std::string damagedMarker;
};

// True when `path` names an existing regular file.
bool IsRegularFile(const std::string& path);

// Creates `folder` and every missing parent (mode 0700); true when it exists
// afterwards. An existing folder keeps its mode.
bool MakeFolders(const std::string& folder);

// Bytes an unprivileged process may still write on the file system that holds
// `path` (or, when it does not exist yet, its nearest existing parent); -1
// when that cannot be determined.
int64_t FreeBytesAt(const std::string& path);

// Sum of the sizes of the store's files that exist.
int64_t StoreFilesSize(const StorePaths& paths);

// Removes the database, its log and index, the large entries' files and the
// damage marker; true when none of them is left. When the database, its log
// or its index cannot be removed nothing else is.
bool RemoveStoreFiles(const StorePaths& paths);

// A name for a database being built next to the real one, unique to this
// process and call.
std::string TemporaryDatabasePath(const StorePaths& paths);
// Creates the empty file `path` for the user only (0600); false when it
// exists or cannot be made. A database is created this way before SQLite
// opens it, so that it and its log and index files get that mode.
bool CreatePrivateFile(const std::string& path);
// Removes what builders of a new database that died before publishing it
// left behind (their process no longer runs).
void RemoveAbandonedTemporaries(const StorePaths& paths);
// Removes a database file with its log and index files (best effort).
void RemoveDatabaseFiles(const std::string& database);

// Which file a store's database name referred to when the store was opened,
// so that a store rebuilt by another process (a new file under the same name)
// is noticed and followed rather than written into unseen.
class DatabaseIdentity {
 public:
  void Remember(const std::string& folder, const std::string& database);
  void Forget();
  // True when the name now refers to another file than the one remembered;
  // `folder` then gets the store's folder. False while the name refers to no
  // file at all (a rebuild in progress).
  bool Replaced(std::string& folder) const;

 private:
  mutable std::mutex mutex_;
  std::string folder_;
  std::string database_;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
};

enum class PublishResult { kPublished, kAlreadyThere, kFailed };
// Gives the finished database `temporary` the store's database name unless a
// database already has it (another process finished first); `temporary` is
// gone afterwards in every case.
PublishResult PublishDatabase(const std::string& temporary, const std::string& database);

}  // namespace udra::store

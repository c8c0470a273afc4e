// Large entries kept as files of their own in the store's "ZAV.files" folder.
//
// SQLite in WAL mode writes every byte of a value twice (log, then database)
// and reads it once more in between; for entries of many megabytes that is
// what limits the store. An entry of kExternalMinSize bytes or more is
// therefore written once, into a file named by a token, and its row records
// the token instead of the bytes. The file is complete and flushed before the
// row that names it is committed, so a reader still sees an entry whole or
// not at all; a file no committed row names is garbage, removed once the
// process that made it is gone.
//
// Tokens are "<pid>-<hex>-<hex>": the maker's process id, then a time and a
// counter that make them unique. A token read back from the database is used
// as a file name only after it has been checked to be of that form, so a
// damaged or hostile database cannot name a file outside the folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/IZav.h"
#include "platform/FileSystem.h"
#include "platform/RandomAccessFile.h"

namespace udra::store {

// Entries of this size or more are kept as files.
constexpr uint32_t kExternalMinSize = 1u << 20;

class EntryFiles {
 public:
  // `folder` is the store's "ZAV.files" folder.
  void SetFolder(const std::string& folder) { folder_ = folder; }
  const std::string& folder() const { return folder_; }

  static std::string NewToken();
  static bool IsToken(const std::string& token);

  // Each of the following makes the file `token`, complete and flushed to
  // disk, and returns kZavOk or the store's code of the failure (a file begun
  // is removed again).
  ZavErrorCode WriteNew(const std::string& token, const void* data, uint32_t size) const;
  // Copies `size` bytes from the start of the open file `source`.
  ZavErrorCode CopyNew(const std::string& token, const platform::RandomAccessFile& source, uint32_t size) const;
  // Moves the file `sourcePath` (open as `source`, `size` bytes) into the
  // folder; on another file system it is copied and `sourcePath` stays.
  // `moved` tells which happened.
  ZavErrorCode MoveNew(const std::string& token, const std::string& sourcePath, platform::RandomAccessFile& source,
                       uint32_t size, bool& moved) const;
  // Gives a moved file back its old name (after a failed commit).
  bool MoveBack(const std::string& token, const std::string& source) const;

  // True when the file of `token` is there and holds `size` bytes.
  bool Holds(const std::string& token, uint32_t size) const;
  // Copies `count` bytes from `offset` of the file of `token`, which must
  // hold `size` bytes. kZavErrChanged when the file is gone or of another
  // size (its entry was replaced or lost), kZavErrIo on a read failure.
  ZavErrorCode Read(const std::string& token, uint32_t size, uint32_t offset, void* buffer, uint32_t count) const;
  void Remove(const std::string& token) const;

  // Removes the files that `isReferenced` does not claim and whose maker no
  // longer runs (a writer that died between writing a file and committing
  // its row, or between a commit and removing the file it replaced).
  void RemoveAbandoned(const std::function<bool(const std::string& token)>& isReferenced) const;
  // Removes every file of the folder; true when none is left.
  bool RemoveAll() const;
  // Sum of the files' sizes.
  int64_t TotalSize() const;

 private:
  std::string PathOf(const std::string& token) const { return folder_ + platform::PathSeparator() + token; }

  std::string folder_;
};

}  // namespace udra::store

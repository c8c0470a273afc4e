#include "components/store/StoreFiles.h"

#include <atomic>
#include <cstdlib>
#include <vector>

#include "components/store/EntryFiles.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/RandomAccessFile.h"
#include "platform/System.h"

namespace udra::store {

namespace {

using platform::FileError;

int64_t FileSize(const std::string& path) {
  const int64_t size = platform::RegularFileSize(path);
  return size < 0 ? 0 : size;
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder + platform::PathSeparator() + name;
}

std::string FileNameOf(const std::string& path) {
  size_t at = path.size();
  while (at > 0 && !platform::IsPathSeparator(path[at - 1])) --at;
  return path.substr(at);
}

}  // namespace

StorePaths::StorePaths(const std::string& f)
    : folder(f),
      database(Join(f, "ZAV.db")),
      wal(database + "-wal"),
      shm(database + "-shm"),
      files(Join(f, "ZAV.files")),
      damagedMarker(Join(f, "ZAV.damaged")) {}

bool IsRegularFile(const std::string& path) { return platform::RegularFileSize(path) >= 0; }

bool MakeFolders(const std::string& folder) { return platform::MakePrivateDirectories(folder); }

int64_t FreeBytesAt(const std::string& path) { return platform::FreeDiskBytes(path); }

int64_t StoreFilesSize(const StorePaths& paths) {
  EntryFiles files;
  files.SetFolder(paths.files);
  return FileSize(paths.database) + FileSize(paths.wal) + FileSize(paths.shm) + files.TotalSize();
}

bool RemoveStoreFiles(const StorePaths& paths) {
  using platform::RemoveFileIfPresent;
  // A database that stays (Windows keeps files that another connection has
  // open) leaves the store whole: its large entries' files are kept too.
  if (!RemoveFileIfPresent(paths.wal) || !RemoveFileIfPresent(paths.shm) || !RemoveFileIfPresent(paths.database)) {
    return false;
  }
  bool ok = true;
  EntryFiles files;
  files.SetFolder(paths.files);
  ok = files.RemoveAll() && ok;
  ok = RemoveFileIfPresent(paths.damagedMarker) && ok;
  return ok;
}

namespace {
constexpr char kTemporaryMark[] = ".new-";
}  // namespace

std::string TemporaryDatabasePath(const StorePaths& paths) {
  static std::atomic<unsigned> counter{0};
  return paths.database + kTemporaryMark + std::to_string(static_cast<long>(platform::CurrentProcessId())) + "-" +
         std::to_string(counter.fetch_add(1));
}

bool CreatePrivateFile(const std::string& path) {
  platform::RandomAccessFile file;
  return file.Open(path, platform::RandomAccessFile::Mode::kCreateNew) == FileError::kNone;
}

void RemoveAbandonedTemporaries(const StorePaths& paths) {
  const std::string prefix = FileNameOf(paths.database) + kTemporaryMark;
  std::vector<platform::FolderEntry> entries;
  if (platform::ListFolder(paths.folder, entries) != FileError::kNone) return;
  const long self = static_cast<long>(platform::CurrentProcessId());
  for (const platform::FolderEntry& e : entries) {
    if (e.name.compare(0, prefix.size(), prefix) != 0) continue;
    char* end = nullptr;
    long pid = std::strtol(e.name.c_str() + prefix.size(), &end, 10);
    if (pid <= 0 || pid == self || *end != '-') continue;
    if (platform::ProcessRunning(pid)) continue;
    platform::RemoveFileIfPresent(Join(paths.folder, e.name));
  }
}

void RemoveDatabaseFiles(const std::string& database) {
  using platform::RemoveFileIfPresent;
  RemoveFileIfPresent(database + "-wal");
  RemoveFileIfPresent(database + "-shm");
  RemoveFileIfPresent(database + "-journal");
  RemoveFileIfPresent(database);
}

void DatabaseIdentity::Remember(const std::string& folder, const std::string& database) {
  platform::FileIdentity identity;
  std::lock_guard<std::mutex> lock(mutex_);
  folder_ = folder;
  database_ = database;
  if (platform::IdentityOf(database, identity)) {
    device_ = identity.volume;
    inode_ = identity.index;
  } else {
    database_.clear();
  }
}

void DatabaseIdentity::Forget() {
  std::lock_guard<std::mutex> lock(mutex_);
  folder_.clear();
  database_.clear();
}

bool DatabaseIdentity::Replaced(std::string& folder) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (database_.empty()) return false;
  platform::FileIdentity identity;
  if (!platform::IdentityOf(database_, identity)) return false;
  if (identity.volume == device_ && identity.index == inode_) return false;
  folder = folder_;
  return true;
}

PublishResult PublishDatabase(const std::string& temporary, const std::string& database) {
  // The name is never taken from a store that another process published
  // meanwhile: that one is kept rather than pulled from under its users.
  PublishResult result = PublishResult::kFailed;
  const FileError error = platform::RenameNoReplace(temporary, database);
  if (error == FileError::kNone) {
    result = PublishResult::kPublished;
  } else if (error == FileError::kExists) {
    result = PublishResult::kAlreadyThere;
  }
  RemoveDatabaseFiles(temporary);
  return result;
}

}  // namespace udra::store

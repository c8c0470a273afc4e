// This companion exists only on POSIX systems, so it uses POSIX directly.
#include "components/store/StoreFiles.h"

#include "components/store/EntryFiles.h"
#include "components/store/PosixFile.h"
#include "platform/Process.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace udra::store {

namespace {

bool RemoveIfPresent(const std::string& path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }

int64_t FileSize(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return static_cast<int64_t>(st.st_size);
}

std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ParentOf(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return "/";
  size_t slash = path.find_last_of('/', end);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

StorePaths::StorePaths(const std::string& f)
    : folder(f),
      database(f + "/ZAV.db"),
      wal(database + "-wal"),
      shm(database + "-shm"),
      files(f + "/ZAV.files"),
      damagedMarker(f + "/ZAV.damaged") {}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool MakeFolders(const std::string& folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string parent = ParentOf(folder);
  if (parent != folder && !MakeFolders(parent)) return false;
  if (mkdir(folder.c_str(), kPrivateFolderMode) == 0 || errno == EEXIST) {
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  return false;
}

int64_t FreeBytesAt(const std::string& path) {
  std::string probe = path.empty() ? "." : path;
  // Bounded walk towards the root: a path has fewer components than bytes.
  for (size_t guard = 0; guard <= path.size() + 1; ++guard) {
    struct statvfs vfs;
    if (statvfs(probe.c_str(), &vfs) == 0) {
      return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
    }
    if (errno != ENOENT && errno != ENOTDIR) return -1;
    std::string parent = ParentOf(probe);
    if (parent == probe) return -1;
    probe = parent;
  }
  return -1;
}

int64_t StoreFilesSize(const StorePaths& paths) {
  EntryFiles files;
  files.SetFolder(paths.files);
  return FileSize(paths.database) + FileSize(paths.wal) + FileSize(paths.shm) + files.TotalSize();
}

bool RemoveStoreFiles(const StorePaths& paths) {
  bool ok = RemoveIfPresent(paths.wal);
  ok = RemoveIfPresent(paths.shm) && ok;
  ok = RemoveIfPresent(paths.database) && ok;
  EntryFiles files;
  files.SetFolder(paths.files);
  ok = files.RemoveAll() && ok;
  ok = RemoveIfPresent(paths.damagedMarker) && ok;
  return ok;
}

namespace {
constexpr char kTemporaryMark[] = ".new-";
}  // namespace

std::string TemporaryDatabasePath(const StorePaths& paths) {
  static std::atomic<unsigned> counter{0};
  return paths.database + kTemporaryMark + std::to_string(static_cast<long>(getpid())) + "-" +
         std::to_string(counter.fetch_add(1));
}

bool CreatePrivateFile(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
  if (fd < 0) return false;
  close(fd);
  return true;
}

void RemoveAbandonedTemporaries(const StorePaths& paths) {
  const std::string prefix = FileNameOf(paths.database) + kTemporaryMark;
  DIR* dir = opendir(paths.folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> abandoned;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    char* end = nullptr;
    long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
    if (pid <= 0 || pid == static_cast<long>(getpid()) || *end != '-') continue;
    if (platform::ProcessRunning(pid)) continue;
    abandoned.push_back(paths.folder + "/" + name);
  }
  closedir(dir);
  for (const std::string& path : abandoned) unlink(path.c_str());
}

void RemoveDatabaseFiles(const std::string& database) {
  RemoveIfPresent(database + "-wal");
  RemoveIfPresent(database + "-shm");
  RemoveIfPresent(database + "-journal");
  RemoveIfPresent(database);
}

void DatabaseIdentity::Remember(const std::string& folder, const std::string& database) {
  struct stat st;
  std::lock_guard<std::mutex> lock(mutex_);
  folder_ = folder;
  database_ = database;
  if (stat(database.c_str(), &st) == 0) {
    device_ = static_cast<uint64_t>(st.st_dev);
    inode_ = static_cast<uint64_t>(st.st_ino);
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
  struct stat st;
  if (stat(database_.c_str(), &st) != 0) return false;
  if (static_cast<uint64_t>(st.st_dev) == device_ && static_cast<uint64_t>(st.st_ino) == inode_) return false;
  folder = folder_;
  return true;
}

PublishResult PublishDatabase(const std::string& temporary, const std::string& database) {
  // link() never replaces an existing name, so a store that another process
  // published meanwhile is kept rather than pulled from under its users.
  PublishResult result = PublishResult::kFailed;
  if (link(temporary.c_str(), database.c_str()) == 0) {
    result = PublishResult::kPublished;
  } else if (errno == EEXIST) {
    result = PublishResult::kAlreadyThere;
  } else if (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS) {
    // File systems without hard links: fall back to a plain rename, checking
    // first (not atomically) for a database published meanwhile.
    if (IsRegularFile(database)) {
      result = PublishResult::kAlreadyThere;
    } else if (rename(temporary.c_str(), database.c_str()) == 0) {
      return PublishResult::kPublished;
    }
  }
  RemoveDatabaseFiles(temporary);
  return result;
}

}  // namespace udra::store

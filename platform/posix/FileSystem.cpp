#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/FileErrors.h"

namespace udra::platform {

char PathSeparator() { return '/'; }
bool IsPathSeparator(char c) { return c == '/'; }

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool MakeDirectories(const std::string& path) {
  if (path.empty() || path.find_first_of("<>\"|*?") != std::string::npos) return false;
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return IsDirectory(path);
}

static int64_t CreationTimeOf(const std::string& path) {
#ifdef STATX_BTIME
  struct statx sx;
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) == 0) {
    const statx_timestamp& t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
  }
#endif
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec : 0;
}

std::vector<FoundFile> FindFiles(const std::string& folder, const std::string& prefix,
                                 const std::string& suffix, size_t maxCount) {
  std::vector<FoundFile> found;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return found;
  while (found.size() < maxCount) {
    const dirent* entry = readdir(dir);
    if (!entry) break;
    const std::string name = entry->d_name;
    if (name.size() < prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    const std::string path = folder + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    found.push_back({path, CreationTimeOf(path)});
  }
  closedir(dir);
  return found;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

// An LogAppendFile holds a shared flock on its file for as long as it is open.
// Whoever can take the exclusive lock knows that no LogAppendFile has the file.
// Opened without blocking, so that a FIFO of a matching name never stalls.
static int OpenLockedExclusively(const std::string& path, bool& inUse) {
  inUse = false;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    inUse = errno != ENOENT;  // unreadable: its state cannot be checked
    return -1;
  }
  // A file system without locks refuses with another error: there no owner
  // could mark its file either, and the file counts as free.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EINTR)) {
    inUse = true;
    close(fd);
    return -1;
  }
  return fd;
}

bool IsFileInUse(const std::string& path) {
  bool inUse = false;
  const int fd = OpenLockedExclusively(path, inUse);
  if (fd >= 0) close(fd);
  return inUse;
}

bool RemoveUnusedFile(const std::string& path) {
  bool inUse = false;
  const int fd = OpenLockedExclusively(path, inUse);
  if (fd < 0) return false;
  const bool removed = unlink(path.c_str()) == 0;  // while the lock keeps owners out
  close(fd);
  return removed;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  // O_NONBLOCK: opening a FIFO would otherwise wait for a writer. It has no
  // effect on the reads of a regular file.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) {
    out.resize(size_t(st.st_size));
    size_t done = 0;
    while (ok && done < out.size()) {
      const ssize_t n = read(fd, &out[done], out.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok = false;
      else done += size_t(n);
    }
  }
  close(fd);
  if (!ok) out.clear();
  return ok;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const char* p = static_cast<const char*>(data);
  bool ok = true;
  while (ok && size) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else {
      p += n;
      size -= size_t(n);
    }
  }
  return close(fd) == 0 && ok;
}

int64_t RegularFileSize(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return int64_t(st.st_size);
}

// The folder that holds `path`: "/" for the root and its children, "." for a
// bare name.
static std::string ParentOf(const std::string& path) {
  const size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return "/";
  const size_t slash = path.find_last_of('/', end);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool MakePrivateDirectories(const std::string& path) {
  if (path.empty()) return false;
  // Bounded: each round goes one component towards the root.
  std::vector<std::string> missing;
  std::string at = path;
  struct stat st;
  while (stat(at.c_str(), &st) != 0) {
    if (errno != ENOENT) return false;
    missing.push_back(at);
    const std::string parent = ParentOf(at);
    if (parent == at) return false;
    at = parent;
  }
  if (!S_ISDIR(st.st_mode)) return false;
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return IsDirectory(path);
}

int64_t FreeDiskBytes(const std::string& path) {
  std::string probe = path.empty() ? "." : path;
  for (size_t guard = 0; guard <= path.size() + 1; ++guard) {
    struct statvfs vfs;
    if (statvfs(probe.c_str(), &vfs) == 0) return int64_t(vfs.f_bavail) * int64_t(vfs.f_frsize);
    if (errno != ENOENT && errno != ENOTDIR) return -1;
    const std::string parent = ParentOf(probe);
    if (parent == probe) return -1;
    probe = parent;
  }
  return -1;
}

FileError ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
  entries.clear();
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return FileErrorOf(errno);
  while (const dirent* e = readdir(dir)) {
    FolderEntry entry;
    entry.name = e->d_name;
    if (entry.name == "." || entry.name == "..") continue;
    struct stat st;
    if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
      entry.regular = true;
      entry.size = uint64_t(st.st_size);
    }
    entries.push_back(std::move(entry));
  }
  closedir(dir);
  return FileError::kNone;
}

bool RemoveFileIfPresent(const std::string& path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }

FileError RenameFile(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0 ? FileError::kNone : FileErrorOf(errno);
}

FileError RenameNoReplace(const std::string& from, const std::string& to) {
  // link() never replaces an existing name.
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return FileError::kNone;
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return FileErrorOf(errno);
  // A file system without hard links: check, then rename (two steps).
  struct stat st;
  if (lstat(to.c_str(), &st) == 0) return FileError::kExists;
  return RenameFile(from, to);
}

bool IdentityOf(const std::string& path, FileIdentity& identity) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  identity.volume = uint64_t(st.st_dev);
  identity.index = uint64_t(st.st_ino);
  return true;
}

std::string PathForUtf8Api(const std::string& path) { return path; }

LogAppendFile::~LogAppendFile() { Close(); }

// The shared lock marks the file as in use (see IsFileInUse). A file made by
// CreateNew is unlocked only between its creation and this call; at that
// moment it is the newest file of its folder, which no clean-up removes.
static void MarkInUse(int fd) {
  while (flock(fd, LOCK_SH) != 0 && errno == EINTR) {
  }
}

bool LogAppendFile::Create(const std::string& path) {
  Close();
  handle_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (handle_ >= 0) MarkInUse(int(handle_));
  return handle_ >= 0;
}

CreateResult LogAppendFile::CreateNew(const std::string& path) {
  Close();
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? CreateResult::kExists : CreateResult::kFailed;
  fchmod(fd, 0600);  // whatever the umask
  MarkInUse(fd);
  handle_ = fd;
  return CreateResult::kCreated;
}

bool LogAppendFile::IsOpen() const { return handle_ >= 0; }

int LogAppendFile::SeekToEnd() {
  if (lseek(int(handle_), 0, SEEK_END) < 0) return errno ? errno : -1;
  return 0;
}

void LogAppendFile::Write(const void* data, size_t size) {
  if (handle_ >= 0) (void)!write(int(handle_), data, size);
}

void LogAppendFile::Close() {
  if (handle_ >= 0) close(int(handle_));
  handle_ = -1;
}

}  // namespace udra::platform

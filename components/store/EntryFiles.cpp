// This companion exists only on POSIX systems, so it uses POSIX directly.
#include "components/store/EntryFiles.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "components/store/PosixFile.h"
#include "platform/Process.h"

namespace udra::store {

namespace {

constexpr size_t kMaxTokenLength = 64;
constexpr size_t kCopyChunk = 1 << 20;

ZavErrorCode CodeOfErrno(int error) {
  return error == ENOSPC || error == EDQUOT ? kZavErrDiskFull : kZavErrIo;
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// The process that made the file `token`, 0 when the token names none.
long MakerOf(const std::string& token) {
  char* end = nullptr;
  long pid = std::strtol(token.c_str(), &end, 10);
  return end != nullptr && *end == '-' && pid > 0 ? pid : 0;
}

// Copies with the kernel where it can, through a buffer where it cannot.
bool CopyBytes(int from, int to, uint32_t size) {
  loff_t in = 0;
  uint32_t done = 0;
  while (done < size) {
    ssize_t n = copy_file_range(from, &in, to, nullptr, size - done, 0);
    if (n > 0) {
      done += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) {
      errno = 0;  // the source is shorter than it was
      return false;
    }
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return false;
    break;  // no kernel copy between these files: go on by hand
  }
  std::vector<char> buffer(size - done < kCopyChunk ? size - done : kCopyChunk);
  while (done < size) {
    const size_t n = size - done < buffer.size() ? size - done : buffer.size();
    if (!ReadFullyAt(from, buffer.data(), n, static_cast<off_t>(done)) || !WriteFully(to, buffer.data(), n)) {
      return false;
    }
    done += static_cast<uint32_t>(n);
  }
  return true;
}

}  // namespace

std::string EntryFiles::NewToken() {
  static std::atomic<unsigned> counter{0};
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  char token[kMaxTokenLength];
  snprintf(token, sizeof token, "%ld-%llx-%x", static_cast<long>(getpid()),
           static_cast<unsigned long long>(now.tv_sec) * 1000000000ull + static_cast<unsigned long long>(now.tv_nsec),
           counter.fetch_add(1));
  return token;
}

bool EntryFiles::IsToken(const std::string& token) {
  if (token.empty() || token.size() > kMaxTokenLength || MakerOf(token) == 0) return false;
  int dashes = 0;
  char previous = '-';
  for (char c : token) {
    if (c == '-') {
      if (previous == '-') return false;  // an empty part
      ++dashes;
    } else if (!IsHex(c)) {
      return false;
    }
    previous = c;
  }
  return dashes == 2 && previous != '-';
}

ZavErrorCode EntryFiles::WriteNew(const std::string& token, const void* data, uint32_t size) const {
  const std::string path = PathOf(token);
  FileDescriptor fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode));
  if (fd.get() < 0) return CodeOfErrno(errno);
  if (WriteFully(fd.get(), data, size) && fdatasync(fd.get()) == 0) return kZavOk;
  const int error = errno;
  unlink(path.c_str());
  return CodeOfErrno(error);
}

ZavErrorCode EntryFiles::CopyNew(const std::string& token, int sourceFd, uint32_t size) const {
  const std::string path = PathOf(token);
  FileDescriptor fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode));
  if (fd.get() < 0) return CodeOfErrno(errno);
  if (CopyBytes(sourceFd, fd.get(), size) && fdatasync(fd.get()) == 0) return kZavOk;
  const int error = errno;
  unlink(path.c_str());
  return CodeOfErrno(error);
}

ZavErrorCode EntryFiles::MoveNew(const std::string& token, const std::string& source, int sourceFd, uint32_t size,
                                 bool& moved) const {
  moved = false;
  // The bytes reach the disk before any row can name them.
  if (fdatasync(sourceFd) != 0) return CodeOfErrno(errno);
  if (rename(source.c_str(), PathOf(token).c_str()) == 0) {
    moved = true;
    return kZavOk;
  }
  return errno == EXDEV ? CopyNew(token, sourceFd, size) : CodeOfErrno(errno);
}

bool EntryFiles::MoveBack(const std::string& token, const std::string& source) const {
  return rename(PathOf(token).c_str(), source.c_str()) == 0;
}

bool EntryFiles::Holds(const std::string& token, uint32_t size) const {
  struct stat st;
  return stat(PathOf(token).c_str(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) == size;
}

ZavErrorCode EntryFiles::Read(const std::string& token, uint32_t size, uint32_t offset, void* buffer,
                              uint32_t count) const {
  FileDescriptor fd(open(PathOf(token).c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT ? kZavErrChanged : kZavErrIo;
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return kZavErrIo;
  if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != size) return kZavErrChanged;
  if (static_cast<uint64_t>(offset) + count > size) return kZavErrArgument;
  if (ReadFullyAt(fd.get(), buffer, count, offset)) return kZavOk;
  return errno == 0 ? kZavErrChanged : kZavErrIo;
}

void EntryFiles::Remove(const std::string& token) const { unlink(PathOf(token).c_str()); }

void EntryFiles::RemoveAbandoned(const std::function<bool(const std::string& token)>& isReferenced) const {
  DIR* dir = opendir(folder_.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> candidates;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (!IsToken(name)) continue;
    const long maker = MakerOf(name);
    if (maker == static_cast<long>(getpid()) || platform::ProcessRunning(maker)) continue;
    candidates.push_back(std::move(name));
  }
  closedir(dir);
  for (const std::string& token : candidates) {
    if (!isReferenced(token)) Remove(token);
  }
}

bool EntryFiles::RemoveAll() const {
  DIR* dir = opendir(folder_.c_str());
  if (dir == nullptr) return errno == ENOENT;
  bool ok = true;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (unlink(PathOf(name).c_str()) != 0 && errno != ENOENT) ok = false;
  }
  closedir(dir);
  return ok;
}

int64_t EntryFiles::TotalSize() const {
  DIR* dir = opendir(folder_.c_str());
  if (dir == nullptr) return 0;
  int64_t total = 0;
  while (dirent* e = readdir(dir)) {
    struct stat st;
    if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) total += st.st_size;
  }
  closedir(dir);
  return total;
}

}  // namespace udra::store

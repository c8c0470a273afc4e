#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "DurableFile.h"

namespace udra::publish {
namespace {

bool WriteAll(int fd, const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, at, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    at += n;
    size -= size_t(n);
  }
  return true;
}

bool SyncPath(const std::filesystem::path& path, bool wholeFileSystem) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = (wholeFileSystem ? ::syncfs(fd) : ::fsync(fd)) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

CreateResult CreateNewFile(const std::filesystem::path& path, const void* data, size_t size,
                           bool flush) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno == EEXIST ? CreateResult::kExists : CreateResult::kFailed;
  bool ok = WriteAll(fd, data, size) && (!flush || ::fsync(fd) == 0);
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    ::unlink(path.c_str());
    return CreateResult::kFailed;
  }
  return CreateResult::kCreated;
}

bool ReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool FlushFileSystem(const std::filesystem::path& folder) { return SyncPath(folder, true); }

bool FlushFolder(const std::filesystem::path& folder) { return SyncPath(folder, false); }

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

}  // namespace udra::publish

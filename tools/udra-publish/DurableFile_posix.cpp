#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

#include "DurableFile.h"

namespace udra::publish {
namespace {

constexpr size_t kFlushThreads = 8;

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

bool SyncPath(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// fsync of every path, on a few threads at once: each one mostly waits for
// the disk, and the file system commits concurrent requests together.
bool SyncAll(const std::vector<std::filesystem::path>& paths) {
  std::atomic<size_t> next{0};
  std::atomic<bool> ok{true};
  auto work = [&] {
    for (size_t i = next++; i < paths.size() && ok; i = next++) {
      if (!SyncPath(paths[i])) ok = false;
    }
  };
  std::vector<std::thread> threads;
  const size_t wanted = std::min(paths.size() / 8, kFlushThreads - 1);
  try {
    for (size_t i = 0; i < wanted; ++i) threads.emplace_back(work);
  } catch (const std::system_error&) {
    // Fewer helpers: this thread does the rest.
  }
  work();
  for (std::thread& t : threads) t.join();
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

bool FlushWritten(const std::vector<std::filesystem::path>& files,
                  const std::vector<std::filesystem::path>& folders) {
  return SyncAll(files) && SyncAll(folders);
}

bool FlushFolder(const std::filesystem::path& folder) { return SyncPath(folder); }

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

}  // namespace udra::publish

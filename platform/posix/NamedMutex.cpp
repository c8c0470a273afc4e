#include "platform/NamedMutex.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/posix/RuntimeFolder.h"

namespace udra::platform {
namespace {

// Byte 0 of the lock file is '1' while a holder holds the lock and '0' after
// an orderly release: a taker that finds '1' knows the last holder died.
constexpr char kHeld = '1';
constexpr char kReleased = '0';

class LockFileMutex : public NamedMutex {
 public:
  explicit LockFileMutex(int fd) : fd_(fd) {}
  ~LockFileMutex() override {
    if (owner_.load() == std::this_thread::get_id()) {
      while (depth_ > 0) Release();
    }
    close(fd_);
  }

  WaitResult Wait(uint32_t timeoutMs) override {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // Threads of this process share the descriptor, and flock does not
    // keep them apart: an in-process lock does.
    if (!local_.try_lock_until(deadline)) return WaitResult::Timeout;
    if (depth_ > 0) {
      ++depth_;
      return WaitResult::Acquired;
    }
    auto pause = std::chrono::milliseconds(1);
    while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        local_.unlock();
        return WaitResult::Failed;
      }
      const auto now = Clock::now();
      if (now >= deadline) {
        local_.unlock();
        return WaitResult::Timeout;
      }
      std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
      pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    char mark = kReleased;
    const bool abandoned = pread(fd_, &mark, 1, 0) == 1 && mark == kHeld;
    mark = kHeld;
    if (pwrite(fd_, &mark, 1, 0) != 1) {
      // Without the mark a later crash would go unnoticed; still held.
    }
    depth_ = 1;
    owner_ = std::this_thread::get_id();
    return abandoned ? WaitResult::Abandoned : WaitResult::Acquired;
  }

  bool Release() override {
    if (owner_.load() != std::this_thread::get_id() || depth_ == 0) return false;
    if (--depth_ == 0) {
      const char mark = kReleased;
      if (pwrite(fd_, &mark, 1, 0) != 1) {
        // The next taker will report the mutex abandoned; nothing better to do.
      }
      owner_ = std::thread::id();
      flock(fd_, LOCK_UN);
    }
    local_.unlock();
    return true;
  }

 private:
  int fd_;
  std::recursive_timed_mutex local_;
  int depth_ = 0;  // guarded by local_
  std::atomic<std::thread::id> owner_{};
};

std::string LockPath(const std::string& name) {
  const std::string plain = posix::PlainObjectName(name);
  if (plain.empty()) return plain;
  return posix::RuntimePath(plain, ".lock");
}

}  // namespace

std::unique_ptr<NamedMutex> NamedMutex::CreateOrOpen(const std::string& name, bool initiallyOwned) {
  const std::string path = LockPath(name);
  if (path.empty()) return nullptr;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return nullptr;
  auto mutex = std::make_unique<LockFileMutex>(fd);
  if (initiallyOwned) {
    const WaitResult r = mutex->Wait(0);
    if (r != WaitResult::Acquired && r != WaitResult::Abandoned) return nullptr;
  }
  return mutex;
}

bool NamedMutex::Exists(const std::string& name) {
  const std::string path = LockPath(name);
  if (path.empty()) return false;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  // A shared lock is refused exactly while a holder has the exclusive one.
  const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);  // also drops the probe's shared lock
  return held;
}

}  // namespace udra::platform

#include "platform/NamedMutex.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
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
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (depth_ > 0) Unlock();  // destroyed while held: released with it
    }
    close(fd_);
  }

  WaitResult Wait(uint32_t timeoutMs) override {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::thread::id me = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(mu_);
    if (owner_ == me) {
      ++depth_;
      return WaitResult::Acquired;
    }
    // Threads of this process share the descriptor, and flock does not keep
    // them apart: the first one claims the object, the others wait here.
    if (!cv_.wait_until(lock, deadline, [this] { return owner_ == std::thread::id(); })) return WaitResult::Timeout;
    owner_ = me;
    lock.unlock();

    auto pause = std::chrono::milliseconds(1);
    WaitResult failure = WaitResult::Acquired;
    while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      const auto now = Clock::now();
      if (errno != EWOULDBLOCK && errno != EINTR) {
        failure = WaitResult::Failed;
      } else if (now >= deadline) {
        failure = WaitResult::Timeout;
      } else {
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
        continue;
      }
      lock.lock();
      owner_ = std::thread::id();
      cv_.notify_one();
      return failure;
    }
    char mark = kReleased;
    const bool abandoned = pread(fd_, &mark, 1, 0) == 1 && mark == kHeld;
    mark = kHeld;
    if (pwrite(fd_, &mark, 1, 0) != 1) {
      // Without the mark a later crash goes unnoticed; the mutex is held all the same.
    }
    lock.lock();
    depth_ = 1;
    return abandoned ? WaitResult::Abandoned : WaitResult::Acquired;
  }

  bool Release() override {
    std::lock_guard<std::mutex> lock(mu_);
    if (owner_ != std::this_thread::get_id() || depth_ == 0) return false;
    if (--depth_ == 0) Unlock();
    return true;
  }

 private:
  // mu_ held.
  void Unlock() {
    const char mark = kReleased;
    if (pwrite(fd_, &mark, 1, 0) != 1) {
      // The next taker will report the mutex abandoned; nothing better to do.
    }
    flock(fd_, LOCK_UN);
    depth_ = 0;
    owner_ = std::thread::id();
    cv_.notify_one();
  }

  int fd_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::thread::id owner_;  // the thread that holds or is taking the mutex
  int depth_ = 0;          // takes of the owner; 0 while it is still taking
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

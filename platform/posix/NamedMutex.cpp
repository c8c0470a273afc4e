#include "platform/NamedMutex.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/posix/RuntimeFolder.h"

namespace udra::platform {
namespace {

// Byte 0 of the lock file is '1' while a holder holds the lock and '0' after
// an orderly release: a taker that finds '1' knows the last holder died.
constexpr char kHeld = '1';
constexpr char kReleased = '0';

// Open-file-description locks on the whole file: like flock they belong to
// the open file (so they go with a holder that dies), and unlike flock they
// can be tested without being taken, so a probe never stands in the way of
// a holder.
bool SetLock(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// One per lock file and process, shared by every handle of this process: as
// with Win32 mutexes, a thread that holds the mutex holds it through all its
// handles, and other threads of the process are kept out like other
// processes are.
class LockState {
 public:
  explicit LockState(int fd) : fd_(fd) {}
  ~LockState() {
    if (depth_ > 0) Unlock();  // the last handle went while held: released with it
    close(fd_);
  }

  NamedMutex::WaitResult Wait(uint32_t timeoutMs) {
    using Result = NamedMutex::WaitResult;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::thread::id me = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(mu_);
    if (owner_ == me) {
      ++depth_;
      return Result::Acquired;
    }
    // The file lock does not keep the threads of one process apart: the
    // first one claims the state, the others wait here.
    if (!cv_.wait_until(lock, deadline, [this] { return owner_ == std::thread::id(); })) return Result::Timeout;
    owner_ = me;
    lock.unlock();

    auto pause = std::chrono::milliseconds(1);
    while (!SetLock(fd_, F_WRLCK)) {
      const auto now = Clock::now();
      Result failure;
      if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
        failure = Result::Failed;
      } else if (now >= deadline) {
        failure = Result::Timeout;
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
    return abandoned ? Result::Abandoned : Result::Acquired;
  }

  bool Release() {
    std::lock_guard<std::mutex> lock(mu_);
    if (owner_ != std::this_thread::get_id() || depth_ == 0) return false;
    if (--depth_ == 0) Unlock();
    return true;
  }

 private:
  // mu_ held (or the last reference going).
  void Unlock() {
    const char mark = kReleased;
    if (pwrite(fd_, &mark, 1, 0) != 1) {
      // The next taker will report the mutex abandoned; nothing better to do.
    }
    SetLock(fd_, F_UNLCK);
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

std::shared_ptr<LockState> StateFor(const std::string& path) {
  static std::mutex* mu = new std::mutex;
  static auto* states = new std::unordered_map<std::string, std::weak_ptr<LockState>>;
  std::lock_guard<std::mutex> lock(*mu);
  auto& slot = (*states)[path];
  if (auto state = slot.lock()) return state;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    states->erase(path);
    return nullptr;
  }
  auto state = std::make_shared<LockState>(fd);
  slot = state;
  return state;
}

class LockFileMutex : public NamedMutex {
 public:
  explicit LockFileMutex(std::shared_ptr<LockState> state) : state_(std::move(state)) {}
  WaitResult Wait(uint32_t timeoutMs) override { return state_->Wait(timeoutMs); }
  bool Release() override { return state_->Release(); }

 private:
  std::shared_ptr<LockState> state_;
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
  std::shared_ptr<LockState> state = StateFor(path);
  if (!state) return nullptr;
  auto mutex = std::make_unique<LockFileMutex>(std::move(state));
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
  // Asks whether a read lock would be refused, which is exactly while a
  // holder has the write lock; nothing is taken.
  struct flock probe {};
  probe.l_type = F_RDLCK;
  probe.l_whence = SEEK_SET;
  const bool held = fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  close(fd);
  return held;
}

}  // namespace udra::platform

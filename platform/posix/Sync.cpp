#include "platform/Sync.h"

#include <errno.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/posix/NativeWait.h"

namespace udra::platform {
namespace {

bool TakeEvent(void* context) {
  const int fd = *static_cast<int*>(context);
  uint64_t value = 0;
  return read(fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

}  // namespace

Event::Event() : native_(std::make_unique<detail::NativeWait>()) {
  native_->fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  native_->events = POLLIN;
  native_->consume = &TakeEvent;
  native_->context = &native_->fd;
}

Event::~Event() {
  if (native_->fd >= 0) close(native_->fd);
}

bool Event::valid() const {
  return native_->fd >= 0;
}

bool Event::Set() {
  const uint64_t one = 1;
  if (native_->fd < 0) return false;
  // A counter already at its maximum is signalled anyway.
  return write(native_->fd, &one, sizeof one) == static_cast<ssize_t>(sizeof one) || errno == EAGAIN;
}

bool Event::Reset() {
  if (native_->fd < 0) return false;
  TakeEvent(&native_->fd);
  return true;
}

int WaitForAny(Waitable* const* objects, size_t count, uint32_t timeoutMs) {
  if (!objects || count == 0 || count > kMaxWaitObjects) return kWaitFailed;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  detail::NativeWait* native[kMaxWaitObjects];
  for (size_t i = 0; i < count; ++i) {
    if (!objects[i] || !(native[i] = objects[i]->nativeWait())) return kWaitFailed;
  }
  for (;;) {
    pollfd fds[kMaxWaitObjects];
    for (size_t i = 0; i < count; ++i) fds[i] = pollfd{native[i]->fd, native[i]->events, 0};
    int timeout = -1;
    if (timeoutMs != kInfinite) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      timeout = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    const int ready = poll(fds, count, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return kWaitFailed;
    }
    for (size_t i = 0; i < count; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      if (fds[i].revents & POLLNVAL) return kWaitFailed;
      if (native[i]->consume(native[i]->context)) return static_cast<int>(i);
    }
    if (timeoutMs != kInfinite && Clock::now() >= deadline) return kWaitTimeout;
  }
}

struct Thread::State {
  std::mutex mu;
  std::condition_variable cv;
  bool ended = false;
  int exitCode = 0;
  std::thread thread;
};

std::unique_ptr<Thread> Thread::Start(std::function<int()> body) {
  auto state = std::make_shared<State>();
  try {
    state->thread = std::thread([state, body = std::move(body)]() {
      int code = -1;
      try {
        code = body();
      } catch (...) {
      }
      std::lock_guard<std::mutex> lock(state->mu);
      state->exitCode = code;
      state->ended = true;
      state->cv.notify_all();
    });
  } catch (...) {
    return nullptr;
  }
  return std::unique_ptr<Thread>(new Thread(state));
}

Thread::Thread(std::shared_ptr<State> state) : state_(std::move(state)) {}

Thread::~Thread() {
  if (!state_->thread.joinable()) return;
  if (state_->thread.get_id() == std::this_thread::get_id()) {
    state_->thread.detach();
    return;
  }
  bool ended;
  {
    std::lock_guard<std::mutex> lock(state_->mu);
    ended = state_->ended;
  }
  if (ended) {
    state_->thread.join();
  } else {
    state_->thread.detach();  // it keeps its state alive and ends on its own
  }
}

bool Thread::Wait(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(state_->mu);
  if (timeoutMs == kInfinite) {
    state_->cv.wait(lock, [this] { return state_->ended; });
    return true;
  }
  return state_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return state_->ended; });
}

int Thread::exitCode() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->exitCode;
}

}  // namespace udra::platform

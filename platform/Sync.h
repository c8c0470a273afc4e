// Events, waiting on several of them, and threads with exit codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace udra::platform {

namespace detail {
struct NativeWait;  // how the backend waits on an object; defined by the backend
}

// Something a thread can wait for: an event, or the completion of a pipe
// operation. Taking a signal in a wait consumes it (auto-reset).
class Waitable {
 public:
  virtual ~Waitable() = default;
  virtual detail::NativeWait* nativeWait() = 0;
};

// An unnamed auto-reset event, not signalled at first.
class Event : public Waitable {
 public:
  Event();
  ~Event() override;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  bool valid() const;
  bool Set();
  bool Reset();
  detail::NativeWait* nativeWait() override { return native_.get(); }

 private:
  std::unique_ptr<detail::NativeWait> native_;
};

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr int kWaitTimeout = -1;
constexpr int kWaitFailed = -2;
constexpr size_t kMaxWaitObjects = 64;  // MAXIMUM_WAIT_OBJECTS

// Waits until one of `count` (1 to kMaxWaitObjects) objects is signalled and
// returns its index (the lowest when several are), kWaitTimeout after
// `timeoutMs`, or kWaitFailed.
int WaitForAny(Waitable* const* objects, size_t count, uint32_t timeoutMs);

// A thread running a function; its result is the exit code. Destroying the
// object does not stop the thread: a thread still running then goes on alone.
class Thread {
 public:
  static std::unique_ptr<Thread> Start(std::function<int()> body);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // True once the thread has ended (within `timeoutMs`).
  bool Wait(uint32_t timeoutMs);
  // The exit code; only meaningful after Wait returned true.
  int exitCode() const;

  struct State;

 private:
  explicit Thread(std::shared_ptr<State> state);
  std::shared_ptr<State> state_;
};

// Runs `second` on a thread of its own while `first` runs on the calling
// thread, and returns when both are done (also when `first` throws); one
// after the other here when no thread can be started.
inline void RunBoth(const std::function<void()>& first, const std::function<void()>& second) {
  std::unique_ptr<Thread> thread = Thread::Start([&second] {
    second();
    return 0;
  });
  struct Join {
    std::unique_ptr<Thread>& thread;
    ~Join() {
      if (thread) thread->Wait(kInfinite);
    }
  } join{thread};
  first();
  if (!thread) second();
}

}  // namespace udra::platform

#include "platform/SocketWaiter.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace udra::platform {
namespace {

// poll over the watched sockets plus an eventfd for the wake-up.
class PollWaiter final : public SocketWaiter {
 public:
  explicit PollWaiter(int wake) : wake_(wake) {}
  ~PollWaiter() override { close(wake_); }

  void Wake() override {
    const uint64_t one = 1;
    ssize_t ignored = write(wake_, &one, sizeof one);  // a counter at its maximum wakes all the same
    (void)ignored;
  }

  void Wait(const std::vector<WatchedSocket>& watched, int timeoutMs, std::vector<ReadySocket>& ready) override {
    fds_.clear();
    fds_.push_back({wake_, POLLIN, 0});
    for (const WatchedSocket& w : watched)
      fds_.push_back({static_cast<int>(w.socket),
                      static_cast<short>((w.read ? POLLIN : 0) | (w.write ? POLLOUT : 0)), 0});
    if (poll(fds_.data(), fds_.size(), timeoutMs) <= 0) return;
    if (fds_[0].revents & POLLIN) {
      uint64_t value = 0;
      ssize_t ignored = read(wake_, &value, sizeof value);
      (void)ignored;
    }
    for (size_t i = 1; i < fds_.size(); ++i) {
      const short got = fds_[i].revents;
      if (got == 0) continue;
      ready.push_back({watched[i - 1].socket, (got & (POLLIN | POLLHUP)) != 0, (got & POLLOUT) != 0,
                       (got & POLLERR) != 0, (got & POLLNVAL) != 0});
    }
  }

 private:
  int wake_;
  std::vector<pollfd> fds_;  // kept for its memory
};

}  // namespace

std::unique_ptr<SocketWaiter> SocketWaiter::Create() {
  const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake < 0) return nullptr;
  return std::make_unique<PollWaiter>(wake);
}

}  // namespace udra::platform

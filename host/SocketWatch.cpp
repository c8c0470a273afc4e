#include "host/SocketWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace udra::host {

SocketWatch::SocketWatch() : wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SocketWatch::~SocketWatch() {
  if (wake_ >= 0) close(wake_);
}

void SocketWatch::Watch(curl_socket_t fd, int what) {
  auto it = std::find_if(watched_.begin(), watched_.end(), [fd](const auto& w) { return w.first == fd; });
  if (what == CURL_POLL_REMOVE) {
    if (it != watched_.end()) watched_.erase(it);
    return;
  }
  const short events = static_cast<short>((what & CURL_POLL_IN ? POLLIN : 0) | (what & CURL_POLL_OUT ? POLLOUT : 0));
  if (it != watched_.end())
    it->second = events;
  else
    watched_.emplace_back(fd, events);
}

void SocketWatch::Wake() {
  const uint64_t one = 1;
  ssize_t ignored = write(wake_, &one, sizeof one);  // a counter at its maximum wakes all the same
  (void)ignored;
}

void SocketWatch::Wait(int timeoutMs, std::vector<Ready>& ready) {
  std::vector<pollfd>& fds = fds_;
  fds.clear();
  fds.push_back({wake_, POLLIN, 0});
  for (const auto& w : watched_) fds.push_back({w.first, w.second, 0});
  if (poll(fds.data(), fds.size(), timeoutMs) <= 0) return;
  if (fds[0].revents & POLLIN) {
    uint64_t value = 0;
    ssize_t ignored = read(wake_, &value, sizeof value);
    (void)ignored;
  }
  for (size_t i = 1; i < fds.size(); ++i) {
    const short got = fds[i].revents;
    if (got == 0) continue;
    if (got & POLLNVAL) {  // closed without being taken out: never ready again
      Watch(fds[i].fd, CURL_POLL_REMOVE);
      continue;
    }
    int flags = 0;
    if (got & (POLLIN | POLLHUP)) flags |= CURL_CSELECT_IN;
    if (got & POLLOUT) flags |= CURL_CSELECT_OUT;
    if (got & POLLERR) flags |= CURL_CSELECT_ERR;
    ready.push_back({fds[i].fd, flags});
  }
}

}  // namespace udra::host

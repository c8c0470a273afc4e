#include "host/SocketWatch.h"

#include <algorithm>

namespace udra::host {

SocketWatch::SocketWatch() : waiter_(platform::SocketWaiter::Create()) {}

void SocketWatch::Watch(curl_socket_t fd, int what) {
  const auto socket = static_cast<platform::SocketHandle>(fd);
  auto it = std::find_if(watched_.begin(), watched_.end(), [socket](const auto& w) { return w.socket == socket; });
  if (what == CURL_POLL_REMOVE) {
    if (it != watched_.end()) watched_.erase(it);
    return;
  }
  const bool read = (what & CURL_POLL_IN) != 0, write = (what & CURL_POLL_OUT) != 0;
  if (it != watched_.end()) {
    it->read = read;
    it->write = write;
  } else {
    watched_.push_back({socket, read, write});
  }
}

void SocketWatch::Wake() {
  if (waiter_) waiter_->Wake();
}

void SocketWatch::Wait(int timeoutMs, std::vector<Ready>& ready) {
  if (!waiter_) return;
  found_.clear();
  waiter_->Wait(watched_, timeoutMs, found_);
  for (const platform::ReadySocket& r : found_) {
    const auto fd = static_cast<curl_socket_t>(r.socket);
    if (r.invalid) {  // closed without being taken out: never ready again
      Watch(fd, CURL_POLL_REMOVE);
      continue;
    }
    int flags = 0;
    if (r.readable) flags |= CURL_CSELECT_IN;
    if (r.writable) flags |= CURL_CSELECT_OUT;
    if (r.failed) flags |= CURL_CSELECT_ERR;
    ready.push_back({fd, flags});
  }
}

}  // namespace udra::host

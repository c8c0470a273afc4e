// The sockets libcurl asks the download thread to watch, and a wake-up that
// any thread can ring, waited for together. Driving libcurl by socket
// events (curl_multi_socket_action) spares it polling every running
// transfer's socket on every turn of the loop, which curl_multi_perform
// does; the set lives in memory, so following libcurl's changes to it costs
// no system call (a transfer's socket leaves and rejoins the set with every
// request on a kept-alive connection).
#pragma once

#include "host/CurlApi.h"

#include <memory>
#include <vector>

#include "platform/SocketWaiter.h"

namespace udra::host {

class SocketWatch {
 public:
  // A socket that is ready, with libcurl's CURL_CSELECT_* flags.
  struct Ready {
    curl_socket_t fd;
    int flags;
  };

  SocketWatch();
  SocketWatch(const SocketWatch&) = delete;
  SocketWatch& operator=(const SocketWatch&) = delete;

  bool valid() const { return waiter_ != nullptr; }
  // As libcurl's socket callback asks: CURL_POLL_IN, _OUT, _INOUT or _REMOVE.
  void Watch(curl_socket_t fd, int what);
  // Any thread: makes the current or next Wait return.
  void Wake();
  // Waits up to `timeoutMs` (0: only looks) for sockets or a wake-up and
  // puts the ready sockets into `ready`.
  void Wait(int timeoutMs, std::vector<Ready>& ready);

 private:
  std::unique_ptr<platform::SocketWaiter> waiter_;
  std::vector<platform::WatchedSocket> watched_;
  std::vector<platform::ReadySocket> found_;  // Wait's, kept for its memory
};

}  // namespace udra::host

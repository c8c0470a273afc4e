// Waiting for any of many sockets to become ready, together with a wake-up
// that any thread can ring. The caller keeps the set of sockets it watches
// and passes it to every wait, so changing the set costs no system call.
#pragma once

#include <memory>
#include <vector>

#include "platform/Socket.h"

namespace udra::platform {

struct WatchedSocket {
  SocketHandle socket;
  bool read;
  bool write;
};

struct ReadySocket {
  SocketHandle socket;
  bool readable;  // data, an end of stream or a hang-up
  bool writable;
  bool failed;    // an error is pending on the socket
  bool invalid;   // not an open socket (closed without being taken out)
};

class SocketWaiter {
 public:
  // Null when the wake-up cannot be made.
  static std::unique_ptr<SocketWaiter> Create();
  virtual ~SocketWaiter() = default;

  // Any thread: makes the current or the next Wait return.
  virtual void Wake() = 0;
  // Waits up to `timeoutMs` (0: only looks) for one of `watched` to become
  // ready or for a wake-up; appends the ready sockets to `ready`. A wake-up
  // is used up by the wait it ends.
  virtual void Wait(const std::vector<WatchedSocket>& watched, int timeoutMs, std::vector<ReadySocket>& ready) = 0;
};

}  // namespace udra::platform

// How the POSIX backend waits on a Waitable: a descriptor to poll and a step
// that takes the signal once the descriptor is ready.
#pragma once

#include <poll.h>

namespace udra::platform::detail {

struct NativeWait {
  int fd = -1;            // -1: nothing to wait for at the moment
  short events = POLLIN;
  // Called when poll reports `fd` ready; true when the object counts as
  // signalled (its signal is then taken), false to keep waiting.
  bool (*consume)(void* context) = nullptr;
  void* context = nullptr;
};

}  // namespace udra::platform::detail

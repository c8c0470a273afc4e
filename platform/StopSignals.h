// Requests from outside that a process end in order: SIGTERM and SIGINT on
// POSIX, where SIGPIPE is ignored as well (a write to a peer that went away
// then fails instead of ending the process); the console's Ctrl+C,
// Ctrl+Break, close, log-off and shut-down events on Win32.
#pragma once

#include <atomic>

namespace udra::platform {

// From now on such a request sets `stop` (which must outlive the process's
// use of it). The last call wins.
void WatchStopRequests(std::atomic<bool>& stop);

}  // namespace udra::platform

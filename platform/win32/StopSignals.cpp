#include "platform/StopSignals.h"

#include <windows.h>

namespace udra::platform {
namespace {

std::atomic<std::atomic<bool>*> g_stop{nullptr};

// Runs on a thread of its own. For the close, log-off and shut-down events
// the system ends the process once the handler returns: it gives the main
// thread a moment to end in order first (the system's own limit is 5 s).
BOOL WINAPI OnConsoleEvent(DWORD event) {
  std::atomic<bool>* stop = g_stop.load();
  if (!stop) return FALSE;
  stop->store(true);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) Sleep(2000);
  return TRUE;
}

}  // namespace

void WatchStopRequests(std::atomic<bool>& stop) {
  if (!g_stop.exchange(&stop)) SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace udra::platform

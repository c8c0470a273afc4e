#include "platform/StopSignals.h"

#include <csignal>

namespace udra::platform {
namespace {

std::atomic<std::atomic<bool>*> g_stop{nullptr};

extern "C" void OnStopSignal(int) {
  if (std::atomic<bool>* stop = g_stop.load()) stop->store(true);
}

}  // namespace

void WatchStopRequests(std::atomic<bool>& stop) {
  g_stop.store(&stop);
  std::signal(SIGTERM, OnStopSignal);
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace udra::platform

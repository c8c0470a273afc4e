// Small helpers for tests that wait on other threads or processes.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/System.h"

namespace udra::test {

// A name no other test (or other run) uses at the same time.
inline std::string UniqueName(const char* prefix) {
  static std::atomic<unsigned> counter{0};
  return std::string(prefix) + std::to_string(platform::CurrentProcessId()) + "_" +
         std::to_string(platform::TickCount()) + "_" + std::to_string(counter++);
}

// Polls `done` every few milliseconds for at most `timeoutMs`.
template <typename F>
bool WaitUntil(F done, uint32_t timeoutMs = 10000) {
  for (uint32_t waited = 0; waited < timeoutMs; waited += 5) {
    if (done()) return true;
    platform::SleepMs(5);
  }
  return done();
}

}  // namespace udra::test

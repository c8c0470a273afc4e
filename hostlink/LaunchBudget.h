// How often a broken pipe may start a new host. A host that ends again and
// again (a crash at start-up, a broken installation) is not started in a
// tight loop: the first restart is at once, and each further one within a
// minute of the last waits twice as long as the one before, from 1 s up to
// 30 s, counted from the last start. A host that has lived a minute clears
// the count. So a host that keeps dying is started at most 6 times in its
// first minute and twice a minute after that.
#pragma once

#include <cstdint>

namespace udra {

class LaunchBudget {
 public:
  static constexpr uint32_t kHealthyMs = 60000;
  static constexpr uint32_t kFirstDelayMs = 1000;
  static constexpr uint32_t kMaxDelayMs = 30000;

  // How long to wait at `now` before the next start; 0 when it may start now.
  uint32_t DelayBeforeLaunch(uint32_t now) const;
  // A host was started at `now`.
  void Launched(uint32_t now);

 private:
  bool launched_ = false;
  uint32_t last_ = 0;
  uint32_t streak_ = 0;  // starts in a row, each within kHealthyMs of the one before
};

}  // namespace udra

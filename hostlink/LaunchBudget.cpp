#include "hostlink/LaunchBudget.h"

#include <algorithm>

namespace udra {

uint32_t LaunchBudget::DelayBeforeLaunch(uint32_t now) const {
  const uint32_t since = now - last_;
  if (!launched_ || since >= kHealthyMs) return 0;
  const uint32_t shift = std::min<uint32_t>(streak_ - 1, 5);
  const uint32_t wait = std::min(kFirstDelayMs << shift, kMaxDelayMs);
  return since >= wait ? 0 : wait - since;
}

void LaunchBudget::Launched(uint32_t now) {
  streak_ = launched_ && now - last_ < kHealthyMs ? streak_ + 1 : 1;
  launched_ = true;
  last_ = now;
}

}  // namespace udra

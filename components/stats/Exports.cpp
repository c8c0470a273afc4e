// The two exports of "UDRAStats.dll".
#include <type_traits>

#include "components/stats/UDRAStats.h"

#define STATS_EXPORT extern "C" __attribute__((visibility("default")))

STATS_EXPORT udra::IUDRAStats* GetUDRAStats() {
  try {
    return new udra::stats::UDRAStats();
  } catch (...) {
    return nullptr;
  }
}

STATS_EXPORT void ReleaseUDRAStats(udra::IUDRAStats* stats) {
  if (stats != nullptr) stats->DeletingDestructor(1);
}

// The library binds these by name with the signatures it declares.
static_assert(std::is_same_v<decltype(&GetUDRAStats), udra::GetUDRAStatsFn>, "signature");
static_assert(std::is_same_v<decltype(&ReleaseUDRAStats), udra::ReleaseUDRAStatsFn>, "signature");

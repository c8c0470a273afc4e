// Whether a process of this machine still runs (platform/Process.h only
// watches processes it started itself).
#pragma once

#include <cstdint>

namespace udra::host {

// False for a process that has ended (a zombie counts as ended) or never was.
bool ProcessAlive(int32_t pid);

}  // namespace udra::host

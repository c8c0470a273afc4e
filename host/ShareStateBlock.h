// The shared-state mapping "UDRAShareState_MMF_" + key and its mutex
// "UDRAShareState_Mutex_" + key. The first 4 bytes are the state word: 1
// while the host has downloads queued or running, 0 when it is idle.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/NamedMutex.h"
#include "platform/SharedMemory.h"

namespace udra::host {

class ShareStateBlock {
 public:
  static constexpr uint32_t kSize = 4096;

  // False with the system error in *error.
  bool Open(const std::string& shareStateKey, int* error = nullptr);
  // Writes the state word under the mutex (waiting at most 1 s for it).
  bool SetWord(uint32_t value);

 private:
  std::unique_ptr<platform::SharedMemory> memory_;
  std::unique_ptr<platform::NamedMutex> mutex_;
  uint32_t* word_ = nullptr;
};

}  // namespace udra::host

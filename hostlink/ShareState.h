// The small state block the host shares with the library: a mapping whose
// first 4 bytes are the host's state word, guarded by a named mutex that is
// held only for the 4-byte copy.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/NamedMutex.h"
#include "platform/SharedMemory.h"

namespace udra {

class ShareState {
 public:
  // How long Refresh waits for the mutex: a host that keeps it must not
  // block the game's call for ever.
  static constexpr uint32_t kMutexWaitMs = 1000;

  // Names end in ShareStateKey() (the digest of "None" when ModuleFolder is
  // unknown).
  ShareState();
  // Names end in `key` (tools and tests).
  explicit ShareState(std::string key);

  // Opens the mapping "Global\UDRAShareState_MMF_"+key read-write and
  // creates or opens the mutex "Global\UDRAShareState_Mutex_"+key. Both are
  // always attempted; true only when both are there.
  bool Open();
  // Copies the state word out of the mapping under the mutex.
  bool Refresh();
  void Close();

  static std::string MappingName(const std::string& key);
  static std::string MutexName(const std::string& key);

  uint32_t stateWord = 0;
  uint32_t copySize = 4;

 private:
  std::string Key() const;

  const std::optional<std::string> m_key;
  std::unique_ptr<platform::SharedMemory> m_hMapping;
  std::unique_ptr<platform::NamedMutex> m_hMutex;
};

}  // namespace udra

#include "hostlink/ShareState.h"

#include <cstring>
#include <utility>

#include "util/Paths.h"

namespace udra {

ShareState::ShareState() = default;

ShareState::ShareState(std::string key) : m_key(std::move(key)) {}

std::string ShareState::Key() const {
  return m_key ? *m_key : ShareStateKey();
}

std::string ShareState::MappingName(const std::string& key) {
  return "Global\\UDRAShareState_MMF_" + key;
}

std::string ShareState::MutexName(const std::string& key) {
  return "Global\\UDRAShareState_Mutex_" + key;
}

bool ShareState::Open() {
  const std::string key = Key();
  m_hMapping = platform::SharedMemory::Open(MappingName(key), true);
  m_hMutex = platform::NamedMutex::CreateOrOpen(MutexName(key), false);
  return m_hMapping && m_hMutex;
}

bool ShareState::Refresh() {
  if (!m_hMapping) return false;
  void* view = m_hMapping->MapView(0, copySize);
  if (!view) return false;
  bool held = false;
  if (m_hMutex) {
    // An abandoned mutex belongs to the waiter all the same (its last holder
    // died): copy and release it, or it would stay taken for ever. After a
    // timeout the word is copied without the mutex, as a 4-byte read is.
    const platform::NamedMutex::WaitResult r = m_hMutex->Wait(kMutexWaitMs);
    held = r == platform::NamedMutex::WaitResult::Acquired || r == platform::NamedMutex::WaitResult::Abandoned;
  }
  std::memcpy(&stateWord, view, sizeof stateWord);
  const bool result = m_hMapping->UnmapView(view);
  if (held) m_hMutex->Release();
  return result;
}

void ShareState::Close() {
  m_hMapping.reset();
  m_hMutex.reset();
}

}  // namespace udra

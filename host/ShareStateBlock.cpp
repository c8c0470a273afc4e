#include "host/ShareStateBlock.h"

namespace udra::host {

bool ShareStateBlock::Open(const std::string& shareStateKey, int* error) {
  memory_ = platform::SharedMemory::Create("Global\\UDRAShareState_MMF_" + shareStateKey, kSize, error);
  mutex_ = platform::NamedMutex::CreateOrOpen("Global\\UDRAShareState_Mutex_" + shareStateKey, false);
  if (!memory_ || !mutex_) return false;
  word_ = static_cast<uint32_t*>(memory_->MapView(0, kSize));
  return word_ != nullptr && SetWord(0);
}

bool ShareStateBlock::SetWord(uint32_t value) {
  if (!word_) return false;
  using R = platform::NamedMutex::WaitResult;
  const R r = mutex_->Wait(1000);
  // A reader that died holding the mutex left nothing half-done: a 4-byte word.
  if (r != R::Acquired && r != R::Abandoned) return false;
  __atomic_store_n(word_, value, __ATOMIC_RELEASE);
  mutex_->Release();
  return true;
}

}  // namespace udra::host

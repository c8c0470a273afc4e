#include "components/store/HandleTable.h"

#include <limits>
#include <utility>

namespace udra::store {

HandleTable::HandleTable() : slots_(kCapacity) {}

int32_t HandleTable::Add(EntryRef ref) {
  std::lock_guard<std::mutex> lock(mutex_);
  int32_t handle = next_;
  // Handles run through every non-negative value before they repeat, so a
  // forgotten handle is not confused with a new one for a very long time.
  next_ = next_ == std::numeric_limits<int32_t>::max() ? 0 : next_ + 1;
  Slot& slot = slots_[static_cast<size_t>(handle % kCapacity)];
  slot.handle = handle;
  slot.ref = std::move(ref);
  return handle;
}

bool HandleTable::Find(int32_t handle, EntryRef& ref) const {
  if (handle < 0) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const Slot& slot = slots_[static_cast<size_t>(handle % kCapacity)];
  if (slot.handle != handle) return false;
  ref = slot.ref;
  return true;
}

void HandleTable::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Slot& slot : slots_) slot = Slot();
}

}  // namespace udra::store

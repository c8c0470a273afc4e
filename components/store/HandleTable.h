// Handles of OpenEntry: small numbers that name an entry as it was when it
// was opened. They hold no open resources, so a caller that never closes
// them (the library does not) leaks nothing: the table keeps the most recent
// kCapacity handles and forgets older ones, which then read as unknown.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace udra::store {

struct EntryRef {
  int64_t id = 0;    // the entry's row; a replaced entry gets a new row
  int32_t size = 0;  // its size when opened
  std::string name;
  std::string file;  // the token of its file, empty when its bytes are in its row
};

class HandleTable {
 public:
  static constexpr int32_t kCapacity = 256;

  HandleTable();

  // A new handle for `ref`, never negative.
  int32_t Add(EntryRef ref);
  // False when the handle is negative, was never handed out or was forgotten.
  bool Find(int32_t handle, EntryRef& ref) const;
  void Clear();

 private:
  struct Slot {
    int32_t handle = -1;
    EntryRef ref;
  };

  mutable std::mutex mutex_;
  std::vector<Slot> slots_;
  int32_t next_ = 0;
};

}  // namespace udra::store

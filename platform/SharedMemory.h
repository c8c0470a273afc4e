// Named shared memory ("Global\..." file mappings) and views of it.
//
// POSIX: shm_open with mode 0600 under the name without "Global\"; an object
// owned by another user is refused. The creator removes the name when its
// object goes, so a crashed creator's memory does not outlive a new one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace udra::platform {

class SharedMemory {
 public:
  // Offsets of views are multiples of this (the allocation granularity).
  static constexpr uint64_t kViewAlignment = 65536;

  // Creates the memory of `size` bytes, or opens it read-write when it
  // exists already (growing it to `size`); null on failure.
  static std::unique_ptr<SharedMemory> Create(const std::string& name, uint64_t size);
  // Opens existing memory; null when it does not exist or cannot be opened.
  static std::unique_ptr<SharedMemory> Open(const std::string& name, bool writable);

  virtual ~SharedMemory() = default;

  // Maps `length` bytes (0: to the end) from `offset`, which must be a
  // multiple of kViewAlignment; the view must lie inside the memory. Null on
  // failure. Views still mapped when the object goes are unmapped with it.
  virtual void* MapView(uint64_t offset, size_t length) = 0;
  // Unmaps a view by the address MapView gave; false for any other address.
  virtual bool UnmapView(void* view) = 0;
  // The size of the memory in bytes (0 when it cannot be determined).
  virtual uint64_t size() const = 0;
};

}  // namespace udra::platform

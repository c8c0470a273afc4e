// Named shared memory ("Global\..." file mappings) and views of it.
//
// POSIX: a file of mode 0600 in the user's private runtime folder, named
// after the name without "Global\", mapped shared. As with a Win32 mapping,
// the memory lives while any process holds it (a host that ends leaves it to
// the game and to the next host) and goes with its last holder. It is created
// exclusively; a file that is not a plain file of this user, closed to
// everybody else, is refused and never used.
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
  // exists already (growing it to `size`); null on failure, with the system
  // error in *error.
  static std::unique_ptr<SharedMemory> Create(const std::string& name, uint64_t size, int* error = nullptr);
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

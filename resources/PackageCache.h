// Parsed package directories kept between reads of a package's members, so
// that a member after the first costs the read of its own bytes only.
//
// Each directory is bound to the store handle through which its package was
// read: the store reads a handle's entry only while that entry is unchanged
// (a replaced or removed entry fails the read), so a member read through the
// bound handle can never combine an old directory with new bytes. Besides,
// whoever learns that an entry changed (a completed download, a dropped or
// reconciled entry) forgets its directory at once.
//
// Memory is bounded: at most kMaxPackages directories and kMaxBytes of their
// parsed form together, the least recently used going first; a directory
// larger than kMaxBytes on its own is used for the one read and not kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "resources/Package.h"

namespace udra {

class PackageCache {
 public:
  static constexpr size_t kMaxPackages = 64;
  static constexpr size_t kMaxBytes = 4u << 20;

  struct Entry {
    int32_t handle = -1;      // the store handle the directory was read through
    int32_t storedSize = 0;   // the package's stored size then
    std::shared_ptr<const PackageDirectory> directory;
  };

  // The directory of package `name` (store names: ASCII case ignored), made
  // the most recently used; false when none is kept.
  bool Find(std::string_view name, Entry& out);
  // Keeps `entry` as the directory of package `name`, replacing any other.
  void Put(std::string_view name, const Entry& entry);
  // The package's entry in the store changed or went: its directory with it.
  void Forget(std::string_view name);
  void Clear();

  size_t size() const;
  size_t bytes() const;

 private:
  struct Slot {
    std::string name;  // folded
    Entry entry;
    size_t bytes = 0;
  };
  using Order = std::list<Slot>;  // most recently used first

  void EraseLocked(Order::iterator it);

  mutable std::mutex mutex_;
  Order order_;
  std::unordered_map<std::string, Order::iterator> byName_;
  size_t bytes_ = 0;
};

}  // namespace udra

// Package files: a plain container whose members are each a stored entry.
//
// Layout (little-endian): 4 bytes not interpreted, uint32 member count, then
// the directory entries one after the other: uint8 type, int32 size, int32
// offset from the start of the package, int32 name length L (at most 256),
// L name bytes (not zero-terminated).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "resources/KeyOrder.h"

namespace udra {

struct PackageMember {
  uint8_t type = 0;
  int32_t size = 0;
  int32_t offset = 0;
};

class PackageDirectory {
 public:
  static constexpr uint32_t kMaxNameLength = 256;
  static constexpr size_t kHeaderSize = 8;
  static constexpr size_t kEntryHeadSize = 13;

  // Reads the directory of a package of `length` bytes. False when the
  // package is too short to hold its header. Members whose data or name lies
  // outside the package are left out; a directory that runs past the end of
  // the package ends there. The count never drives an allocation.
  bool Parse(const uint8_t* data, size_t length) { return Parse(data, length, length, nullptr); }
  // The same for a package of `length` bytes of which only the first
  // `available` are at hand (a package read from its start in parts): members
  // are checked against `length`. *cut, when given, tells that the directory
  // runs on past `available`; the caller then parses a longer start again.
  bool Parse(const uint8_t* data, size_t available, size_t length, bool* cut);

  // Looks a member up by name (CatalogueKey applied, key order).
  bool Find(std::string_view name, PackageMember& member) const;
  size_t memberCount() const { return members_.size(); }
  // Memory the parsed directory takes, roughly: names plus a map node each.
  size_t footprint() const { return footprint_; }

  // A map node with its name and member, beside the name's own bytes.
  static constexpr size_t kNodeOverhead = 96;

 private:
  std::map<std::string, PackageMember, KeyOrder> members_;
  size_t footprint_ = 0;
};

// The member name of catalogue key `key` inside package `packageName`: the
// package name without its last 5 characters (".pack") is the package
// folder; a key below that folder (compared without case) is named relative
// to it, any other key by itself.
std::string PackageMemberName(std::string_view packageName, std::string_view key);

}  // namespace udra

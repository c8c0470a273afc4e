#include "resources/Package.h"

#include <cstring>

#include "resources/PathRules.h"

namespace udra {
namespace {

int32_t LoadLe32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                              uint32_t(p[3]) << 24);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

}  // namespace

bool PackageDirectory::Parse(const uint8_t* data, size_t available, size_t length, bool* cut) {
  members_.clear();
  footprint_ = 0;
  if (cut) *cut = false;
  if (available > length) available = length;
  // A package too short for its header is no package.
  if (data == nullptr || length < kHeaderSize) return false;
  if (available < kHeaderSize) {
    if (!cut) return false;
    *cut = true;
    return true;
  }
  const uint32_t count = static_cast<uint32_t>(LoadLe32(data + 4));
  size_t pos = kHeaderSize;
  // Set when the next entry lies (partly) beyond the bytes at hand.
  bool runsOn = false;
  // Every directory entry takes at least 13 bytes, so the loop is bounded by
  // the package's length whatever the count says.
  for (uint32_t i = 0; i < count; ++i) {
    if (available - pos < kEntryHeadSize) {
      runsOn = true;
      break;
    }
    const uint8_t* head = data + pos;
    PackageMember member;
    member.type = head[0];
    member.size = LoadLe32(head + 1);
    member.offset = LoadLe32(head + 5);
    const int32_t nameLength = LoadLe32(head + 9);
    if (nameLength < 0) break;
    if (size_t(nameLength) > available - pos - kEntryHeadSize) {
      runsOn = true;
      break;
    }

    const char* name = reinterpret_cast<const char*>(head + kEntryHeadSize);
    // A name with a zero byte in it ends there, and so does the entry: the
    // next entry starts right after the text before the zero.
    const void* zero = std::memchr(name, '\0', size_t(nameLength));
    const size_t textLength = zero ? size_t(static_cast<const char*>(zero) - name) : size_t(nameLength);
    pos += kEntryHeadSize + textLength;

    const bool nameFits = uint32_t(nameLength) <= kMaxNameLength;
    const bool dataInside = member.offset >= 0 && member.size >= 0 && size_t(member.offset) <= length &&
                            size_t(member.size) <= length - size_t(member.offset);
    if (nameFits && dataInside) {
      // The first entry of a name wins.
      if (members_.emplace(std::string(name, textLength), member).second) footprint_ += kNodeOverhead + textLength;
    }
  }
  // The whole package at hand: a directory running past it ends there.
  if (runsOn && available < length) {
    if (!cut) return false;
    *cut = true;
  }
  return true;
}

bool PackageDirectory::Find(std::string_view name, PackageMember& member) const {
  std::string_view key;
  if (!CatalogueKey(name, key)) return false;
  const auto it = members_.find(key);
  if (it == members_.end()) return false;
  member = it->second;
  return true;
}

std::string PackageMemberName(std::string_view packageName, std::string_view key) {
  const std::string_view folder =
      packageName.size() >= 5 ? packageName.substr(0, packageName.size() - 5) : packageName;
  if (key.size() <= folder.size()) return std::string(key);
  for (size_t i = 0; i < folder.size(); ++i) {
    if (Lower(key[i]) != Lower(folder[i])) return std::string(key);
  }
  std::string_view rest = key.substr(folder.size());
  if (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
  return std::string(rest);
}

}  // namespace udra

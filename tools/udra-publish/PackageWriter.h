// The package container: 4 unused bytes, a uint32 member count, the member
// directory (type byte, int32 size, int32 offset from the package start,
// int32 name length, the name without terminator), then the members' data.
// All little-endian; the container itself is neither enciphered nor
// compressed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace udra::publish {

constexpr size_t kMaxMemberName = 256;
constexpr uint8_t kMemberTypeFile = 1;

class PackageWriter {
 public:
  // `name` is the member name in ANSI bytes; `data` its stored form.
  // False when the name is empty, longer than 256 bytes or holds a zero byte.
  bool Add(const std::string& name, std::vector<uint8_t> data);

  // The whole package; false when it would exceed what int32 offsets address.
  bool Build(std::vector<uint8_t>& out) const;

  size_t MemberCount() const { return members_.size(); }

 private:
  struct Member {
    std::string name;
    std::vector<uint8_t> data;
  };
  std::vector<Member> members_;
};

}  // namespace udra::publish

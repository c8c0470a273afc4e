#include "PackageWriter.h"

#include <cstring>
#include <limits>

namespace udra::publish {
namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kEntryFixedSize = 13;

void PutLe32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}

}  // namespace

bool PackageWriter::Add(const std::string& name, std::vector<uint8_t> data) {
  if (name.empty() || name.size() > kMaxMemberName || name.find('\0') != std::string::npos) {
    return false;
  }
  members_.push_back({name, std::move(data)});
  return true;
}

bool PackageWriter::Build(std::vector<uint8_t>& out) const {
  constexpr size_t kLimit = size_t(std::numeric_limits<int32_t>::max());
  size_t directory = kHeaderSize;
  for (const Member& m : members_) directory += kEntryFixedSize + m.name.size();
  size_t total = directory;
  for (const Member& m : members_) {
    total += m.data.size();
    if (total > kLimit) return false;
  }
  out.assign(total, 0);
  PutLe32(out, 4, uint32_t(members_.size()));
  size_t entry = kHeaderSize;
  size_t offset = directory;
  for (const Member& m : members_) {
    out[entry] = kMemberTypeFile;
    PutLe32(out, entry + 1, uint32_t(m.data.size()));
    PutLe32(out, entry + 5, uint32_t(offset));
    PutLe32(out, entry + 9, uint32_t(m.name.size()));
    std::memcpy(out.data() + entry + kEntryFixedSize, m.name.data(), m.name.size());
    entry += kEntryFixedSize + m.name.size();
    if (!m.data.empty()) std::memcpy(out.data() + offset, m.data.data(), m.data.size());
    offset += m.data.size();
  }
  return true;
}

}  // namespace udra::publish

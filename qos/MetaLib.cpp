#include "qos/MetaLib.h"

#include <cstring>

namespace udra::qos {

const MetaDesc* FindMeta(const MetaLib& lib, const char* name) {
  if (!name || !lib.descs || !lib.nameIndex) return nullptr;
  size_t lo = 0;
  size_t hi = lib.descCount;
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    const MetaDesc* desc = lib.descs[lib.nameIndex[mid]];
    int cmp = std::strcmp(desc->name, name);
    if (cmp == 0) return desc;
    if (cmp < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return nullptr;
}

bool FindMacro(const MetaLib& lib, const char* name, int64_t& value) {
  if (!name) return false;
  for (size_t i = 0; i < lib.macroCount; ++i) {
    if (std::strcmp(lib.macros[i].name, name) == 0) {
      value = lib.macros[i].value;
      return true;
    }
  }
  return false;
}

namespace {
bool Answers(const MetaEntry& member, int64_t id) { return id >= member.minId && id <= member.maxId; }
}  // namespace

const MetaEntry* FindUnionMember(const MetaDesc& unionDesc, int64_t id) {
  const uint32_t n = unionDesc.entryCount;
  if (n == 0 || id < unionDesc.minId || id > unionDesc.maxId) return nullptr;
  // Dense: member i answers exactly to minId + i.
  if (static_cast<uint64_t>(unionDesc.maxId - unionDesc.minId) + 1 == n) {
    const MetaEntry& member = unionDesc.entries[id - unionDesc.minId];
    if (member.minId == id && member.maxId == id) return &member;
  }
  if (n > 15) {
    // Members are ordered by id range.
    uint32_t lo = 0;
    uint32_t hi = n;
    while (lo < hi) {
      uint32_t mid = lo + (hi - lo) / 2;
      const MetaEntry& member = unionDesc.entries[mid];
      if (Answers(member, id)) return &member;
      if (member.maxId < id) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return nullptr;
  }
  for (uint32_t i = 0; i < n; ++i) {
    if (Answers(unionDesc.entries[i], id)) return &unionDesc.entries[i];
  }
  return nullptr;
}

}  // namespace udra::qos

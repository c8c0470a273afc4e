// Package bytes from anywhere: every member the directory keeps lies inside
// the package.
#include <cstddef>
#include <cstdint>
#include <string>

#include "resources/Package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  udra::PackageDirectory directory;
  if (!directory.Parse(data, size)) return 0;
  for (size_t start = 8; start + 13 < size && start < 200; start += 13) {
    const std::string name(reinterpret_cast<const char*>(data) + start + 13,
                           size - start - 13 < 16 ? size - start - 13 : 16);
    udra::PackageMember member;
    if (directory.Find(name, member)) {
      if (member.offset < 0 || member.size < 0 || size_t(member.offset) + size_t(member.size) > size) {
        __builtin_trap();
      }
    }
  }
  return 0;
}

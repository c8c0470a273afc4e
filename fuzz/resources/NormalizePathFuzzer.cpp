// Paths from anywhere: normalisation stays inside its 260-byte buffer and its
// result is stable (normalising twice changes nothing more than once).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "resources/PathRules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size);  // cut at the first zero by c_str()
  const udra::NormalPath normal = udra::NormalizePath(path.c_str());
  if (normal.size() >= udra::kPathBufferSize || std::strlen(normal.c_str()) != normal.size()) __builtin_trap();
  std::string_view key;
  if (udra::CatalogueKey(normal.view(), key) && key.size() >= udra::kKeyLimit) __builtin_trap();
  uint8_t bytes[16];
  udra::DigestToBytes(path, bytes);
  return 0;
}

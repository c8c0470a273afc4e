// Catalogue bytes from anywhere: the load never reads out of bounds, lookups
// and walks of any path stay safe, and no kept key reaches the key limit.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "resources/FileList.h"
#include "resources/PathRules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  udra::FileList list;
  list.LoadFromBuffer(std::string(reinterpret_cast<const char*>(data), size));
  std::vector<std::string> keys;
  // Probe with slices of the input as paths.
  for (size_t start = 0; start < size && start < 64; start += 7) {
    const std::string probe(reinterpret_cast<const char*>(data) + start, size - start < 40 ? size - start : 40);
    int32_t n;
    list.size(probe, n);
    list.entriesBelow(probe, keys);
    list.packedTotal(probe);
    std::string out;
    list.downloadPath(probe, out);
  }
  for (const std::string& key : keys) {
    if (key.empty() || key.size() >= udra::kKeyLimit) __builtin_trap();
  }
  return 0;
}

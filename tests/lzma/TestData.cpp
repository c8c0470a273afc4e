#include "TestData.h"

#include <random>

namespace udra::test {

std::vector<uint8_t> TextData(size_t size) {
  static const char kWords[] =
      "the quick brown fox jumps over the lazy dog while resources load from the archive ";
  std::vector<uint8_t> out(size);
  for (size_t i = 0; i < size; ++i)
    out[i] = uint8_t(kWords[(i * 7 + i / 13) % (sizeof(kWords) - 1)]);
  return out;
}

std::vector<uint8_t> RandomData(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(size);
  for (auto& b : out) b = uint8_t(rng());
  return out;
}

std::vector<uint8_t> X86LikeData(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  out.reserve(size);
  uint32_t functions[64];
  for (auto& f : functions) f = rng() % uint32_t(size + 1);
  while (out.size() < size) {
    const uint32_t pick = rng() % 8;
    if (pick < 3) {
      // Calls to a few functions: their relative targets differ, their
      // absolute ones repeat, which the x86 filter exploits.
      out.push_back(pick == 0 ? 0xE9 : 0xE8);
      const uint32_t rel = functions[rng() % 64] - uint32_t(out.size() + 4);
      for (int i = 0; i < 4; ++i) out.push_back(uint8_t(rel >> (8 * i)));
    } else {
      static const uint8_t kOps[] = {0x55, 0x89, 0xE5, 0x83, 0xEC, 0x8B, 0x45, 0x08, 0xC3, 0x90};
      out.push_back(kOps[rng() % sizeof(kOps)]);
    }
  }
  out.resize(size);
  return out;
}

}  // namespace udra::test

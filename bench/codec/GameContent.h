// Something like game content for the codec benchmarks: text, tables of small
// numbers and noise, the same bytes for a given size on every run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

namespace udra::bench {

inline std::vector<uint8_t> GameContent(size_t size) {
  std::mt19937 rng(1);
  std::vector<uint8_t> out;
  out.reserve(size);
  static const char kText[] = "<item id=\"%u\" name=\"sword of the north\" weight=\"%u\"/>\n";
  while (out.size() < size) {
    switch (rng() % 3) {
      case 0: {
        char line[128];
        const int n = std::snprintf(line, sizeof line, kText, unsigned(rng() % 5000), unsigned(rng() % 100));
        out.insert(out.end(), line, line + n);
        break;
      }
      case 1:
        for (int i = 0; i < 64; ++i) out.push_back(uint8_t(rng() % 16));
        break;
      default:
        for (int i = 0; i < 32; ++i) out.push_back(uint8_t(rng()));
    }
  }
  out.resize(size);
  return out;
}

}  // namespace udra::bench

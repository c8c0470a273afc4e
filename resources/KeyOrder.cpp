#include "resources/KeyOrder.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace udra {
namespace {

// Rank of a byte in the key order: the backslash is lowest (1), letters fold
// to lower case, every other byte ranks by its signed value. 0 is left free so
// no byte ranks like "end of key".
constexpr std::array<uint16_t, 256> MakeRanks() {
  std::array<uint16_t, 256> rank{};
  for (int c = 0; c < 256; ++c) {
    int folded = (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
    int asSigned = folded >= 128 ? folded - 256 : folded;
    rank[c] = static_cast<uint16_t>(asSigned + 128 + 2);
  }
  rank['\\'] = 1;
  return rank;
}

constexpr std::array<uint16_t, 256> kRank = MakeRanks();

// kRank made dense: the number of distinct ranks below a byte's, plus one.
constexpr std::array<uint8_t, 256> MakeByteRanks() {
  std::array<bool, 260> used{};
  for (int c = 0; c < 256; ++c) used[kRank[c]] = true;
  std::array<uint8_t, 260> dense{};
  int next = 1;
  for (int r = 0; r < 260; ++r)
    if (used[r]) dense[r] = static_cast<uint8_t>(next++);
  std::array<uint8_t, 256> out{};
  for (int c = 0; c < 256; ++c) out[c] = dense[kRank[c]];
  return out;
}

// Index of the first position below `n` where the raw bytes differ, or `n`.
inline size_t FirstRawDifference(const char* a, const char* b, size_t i, size_t n) {
  while (i + 8 <= n) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) break;
    i += 8;
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

}  // namespace

const std::array<uint8_t, 256> kKeyByteRank = MakeByteRanks();

bool KeyLess(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  const char* pa = a.data();
  const char* pb = b.data();
  size_t i = 0;
  for (;;) {
    i = FirstRawDifference(pa, pb, i, n);
    if (i == n) return a.size() < b.size();
    const uint16_t ra = kRank[static_cast<unsigned char>(pa[i])];
    const uint16_t rb = kRank[static_cast<unsigned char>(pb[i])];
    if (ra != rb) return ra < rb;
    ++i;  // the bytes differ only in letter case
  }
}

bool KeyEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = FirstRawDifference(a.data(), b.data(), 0, a.size()); i < a.size();
       i = FirstRawDifference(a.data(), b.data(), i + 1, a.size())) {
    if (kRank[static_cast<unsigned char>(a[i])] != kRank[static_cast<unsigned char>(b[i])]) {
      return false;
    }
  }
  return true;
}

}  // namespace udra

#include "resources/KeyOrder.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace udra {
namespace {

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

bool KeyLess(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  const char* pa = a.data();
  const char* pb = b.data();
  size_t i = 0;
  for (;;) {
    i = FirstRawDifference(pa, pb, i, n);
    if (i == n) return a.size() < b.size();
    const uint8_t ra = kKeyByteRank[static_cast<unsigned char>(pa[i])];
    const uint8_t rb = kKeyByteRank[static_cast<unsigned char>(pb[i])];
    if (ra != rb) return ra < rb;
    ++i;  // the bytes differ only in letter case
  }
}

bool KeyEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = FirstRawDifference(a.data(), b.data(), 0, a.size()); i < a.size();
       i = FirstRawDifference(a.data(), b.data(), i + 1, a.size())) {
    if (kKeyByteRank[static_cast<unsigned char>(a[i])] != kKeyByteRank[static_cast<unsigned char>(b[i])]) {
      return false;
    }
  }
  return true;
}

}  // namespace udra

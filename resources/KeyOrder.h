// The order of catalogue keys and package member names: ASCII letters compare
// without case, the backslash sorts below every other byte, and the other bytes
// compare as signed 8-bit values (so GBK lead bytes sort before all ASCII).
// Because of the backslash rule, every key below a folder F ("F\...") directly
// follows F.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace udra {

// True when `a` sorts before `b`.
bool KeyLess(std::string_view a, std::string_view b);
// True when neither sorts before the other (equal up to ASCII letter case).
bool KeyEqual(std::string_view a, std::string_view b);

namespace key_order_detail {

// Each byte's rank in the key order: the backslash is lowest (1), letters fold
// to lower case, every other byte ranks by its signed value.
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

// The ranks made dense: the number of distinct ranks below a byte's, plus one.
constexpr std::array<uint8_t, 256> MakeByteRanks() {
  const std::array<uint16_t, 256> rank = MakeRanks();
  std::array<bool, 260> used{};
  for (int c = 0; c < 256; ++c) used[rank[c]] = true;
  std::array<uint8_t, 260> dense{};
  int next = 1;
  for (int r = 0; r < 260; ++r)
    if (used[r]) dense[r] = static_cast<uint8_t>(next++);
  std::array<uint8_t, 256> out{};
  for (int c = 0; c < 256; ++c) out[c] = dense[rank[c]];
  return out;
}

}  // namespace key_order_detail

// Each byte's place in the key order as one byte: 1 for the backslash, then
// ascending, with the two cases of a letter sharing one value. 0 is never a
// byte's rank, so it stands for "the key has ended" in packed comparisons.
inline constexpr std::array<uint8_t, 256> kKeyByteRank = key_order_detail::MakeByteRanks();

struct KeyOrder {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return KeyLess(a, b); }
};

}  // namespace udra

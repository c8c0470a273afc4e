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

// Each byte's place in the key order as one byte: 1 for the backslash, then
// ascending, with the two cases of a letter sharing one value. 0 is never a
// byte's rank, so it stands for "the key has ended" in packed comparisons.
extern const std::array<uint8_t, 256> kKeyByteRank;

struct KeyOrder {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return KeyLess(a, b); }
};

}  // namespace udra

// The order of catalogue keys and package member names: ASCII letters compare
// without case, the backslash sorts below every other byte, and the other bytes
// compare as signed 8-bit values (so GBK lead bytes sort before all ASCII).
// Because of the backslash rule, every key below a folder F ("F\...") directly
// follows F.
#pragma once

#include <string_view>

namespace udra {

// True when `a` sorts before `b`.
bool KeyLess(std::string_view a, std::string_view b);
// True when neither sorts before the other (equal up to ASCII letter case).
bool KeyEqual(std::string_view a, std::string_view b);

struct KeyOrder {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return KeyLess(a, b); }
};

}  // namespace udra

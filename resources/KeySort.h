// Sorting catalogue keys into the key order (KeyOrder.h) for a catalogue whose
// lines do not come in that order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace udra {

// Where the keys are: `count` (offset, length) pairs of 32-bit words into
// `text`, `stride` bytes apart (so the keys can be read straight out of a
// caller's records).
struct KeyTable {
  const char* text = nullptr;
  const void* first = nullptr;  // the first key's offset word; its length follows it
  size_t stride = 0;
  size_t count = 0;

  uint32_t Offset(size_t i) const { return Word(i, 0); }
  uint32_t Length(size_t i) const { return Word(i, 1); }

 private:
  uint32_t Word(size_t i, size_t word) const {
    uint32_t value;
    __builtin_memcpy(&value, static_cast<const char*>(first) + i * stride + word * sizeof(uint32_t), sizeof value);
    return value;
  }
};

// The positions of the keys in key order. Of keys that are equal (up to
// ASCII letter case) only the one at the lowest position is listed.
std::vector<uint32_t> SortedKeyOrder(const KeyTable& keys);

}  // namespace udra

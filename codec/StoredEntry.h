// The stored form of an entry: a plaintext of head byte (low 3 bits = n),
// n filler bytes, 2 salt bytes, the body (an LZMA86 stream) and 7 zero bytes,
// whose length is a multiple of 8 and at least 16, enciphered with TEA-CBC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/Tea.h"

namespace udra {

constexpr size_t kStoredEntryOverhead = 10;  // head byte, salt, trailer
constexpr size_t kStoredEntryMinSize = 16;

// Where the body lies in a deciphered entry.
struct EntryBody {
  size_t offset = 0;
  size_t length = 0;
};

// Deciphers the `length` bytes at `data` into `plain` (room for `length`
// bytes; may be `data` itself) and checks the frame: length a multiple of 8
// and at least 16, a body length that is not negative and seven zero bytes at
// the end. False leaves `body` unchanged; `plain` may then hold anything.
bool DecipherEntry(const TeaKey& key, const uint8_t* data, size_t length, uint8_t* plain,
                   EntryBody& body);

// Builds the stored form of `body`: the filler count is what makes the length
// a multiple of 8; the head byte's free bits, the filler and the salt are
// derived from `seed`.
std::vector<uint8_t> BuildStoredEntry(const TeaKey& key, const uint8_t* body, size_t length,
                                      uint64_t seed);

}  // namespace udra

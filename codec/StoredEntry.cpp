#include "codec/StoredEntry.h"

#include <cstring>

namespace udra {
namespace {

constexpr size_t kTrailerSize = 7;
constexpr size_t kSaltSize = 2;

uint64_t SplitMix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

bool DecipherEntry(const TeaKey& key, const uint8_t* data, size_t length, uint8_t* plain,
                   EntryBody& body) {
  if (length % 8 != 0 || length < kStoredEntryMinSize) return false;
  TeaCbcDecrypt(key, data, plain, length / 8);
  const size_t filler = plain[0] & 7;
  if (length < filler + kStoredEntryOverhead) return false;  // negative body length
  const size_t bodyLength = length - filler - kStoredEntryOverhead;
  const uint8_t* trailer = plain + length - kTrailerSize;
  for (size_t i = 0; i < kTrailerSize; ++i) {
    if (trailer[i] != 0) return false;
  }
  body.offset = 1 + filler + kSaltSize;
  body.length = bodyLength;
  return true;
}

std::vector<uint8_t> BuildStoredEntry(const TeaKey& key, const uint8_t* body, size_t length,
                                      uint64_t seed) {
  const size_t filler = (8 - (length + kStoredEntryOverhead) % 8) % 8;
  const size_t total = length + filler + kStoredEntryOverhead;
  std::vector<uint8_t> out(total, 0);
  uint64_t state = seed;
  out[0] = uint8_t((uint8_t(SplitMix(state)) & 0xF8) | filler);
  for (size_t i = 0; i < filler + kSaltSize; ++i) out[1 + i] = uint8_t(SplitMix(state) >> 32);
  if (length != 0) std::memcpy(out.data() + 1 + filler + kSaltSize, body, length);
  // The trailer is already zero.
  TeaCbcEncrypt(key, out.data(), out.data(), total / 8);
  return out;
}

}  // namespace udra

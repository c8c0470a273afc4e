// TEA with 16 rounds on 8-byte blocks (two big-endian 32-bit halves), chained
// as in cipher-block chaining with an all-zero initial vector.
#pragma once

#include <cstddef>
#include <cstdint>

namespace udra {

struct TeaKey {
  uint32_t k[4];
};

// The key of stored entries, fixed by the build (UDRA_ENTRY_KEY_0..3).
const TeaKey& EntryKey();

void TeaEncryptBlock(const TeaKey& key, uint8_t block[8]);
void TeaDecryptBlock(const TeaKey& key, uint8_t block[8]);

// CBC over `blocks` 8-byte blocks. `in` and `out` may be the same buffer;
// otherwise they must not overlap.
void TeaCbcEncrypt(const TeaKey& key, const uint8_t* in, uint8_t* out, size_t blocks);
void TeaCbcDecrypt(const TeaKey& key, const uint8_t* in, uint8_t* out, size_t blocks);

}  // namespace udra

// MD5 of many separate byte ranges at once. MD5 cannot be split within one
// input, but independent inputs can be hashed side by side: with AVX2 eight
// of them go through the rounds together, one per 32-bit lane, which is
// several times the speed of hashing them one after the other. A burst of
// small downloads is exactly that case. Without AVX2 the inputs are hashed
// one at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace udra::host {

struct Md5Input {
  const void* data;
  size_t size;
};

// Writes the 16-byte digest of inputs[i] to digests[i]. `vector` false keeps
// to the one-at-a-time path (for comparing the two).
void Md5Digests(const Md5Input* inputs, size_t count, uint8_t (*digests)[16], bool vector = true);

}  // namespace udra::host

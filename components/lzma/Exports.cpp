// The exports of "LZMA.DLL", with the LZMA SDK's C signatures.
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "Lzma86.h"
#include "codec/Lzma86Api.h"

#define LZMA_EXPORT extern "C" __attribute__((visibility("default")))

LZMA_EXPORT int Lzma86_Encode(unsigned char* dest, size_t* destLen, const unsigned char* src,
                              size_t srcLen, int level, uint32_t dictSize, int filterMode) {
  return udra::lzma86::Encode(dest, destLen, src, srcLen, level, dictSize, filterMode);
}

LZMA_EXPORT int Lzma86_Decode(unsigned char* dest, size_t* destLen, const unsigned char* src,
                              size_t* srcLen) {
  return udra::lzma86::Decode(dest, destLen, src, srcLen);
}

LZMA_EXPORT int Lzma86_GetUnpackSize(const unsigned char* src, size_t srcLen,
                                     uint64_t* unpackSize) {
  return udra::lzma86::GetUnpackSize(src, srcLen, unpackSize);
}

// The library binds these by name with the signatures it declares.
static_assert(std::is_same_v<decltype(&Lzma86_Encode), udra::lzma86::EncodeFn>, "signature");
static_assert(std::is_same_v<decltype(&Lzma86_Decode), udra::lzma86::DecodeFn>, "signature");
static_assert(std::is_same_v<decltype(&Lzma86_GetUnpackSize), udra::lzma86::GetUnpackSizeFn>,
              "signature");

// The three LZMA86 functions of "LZMA.DLL": their C signatures, result codes
// and format constants, shared by the library's binding and by the module.
#pragma once

#include <cstddef>
#include <cstdint>

namespace udra::lzma86 {

// Result codes (SRes).
constexpr int kOk = 0;
constexpr int kErrorData = 1;
constexpr int kErrorMem = 2;
constexpr int kErrorCrc = 3;
constexpr int kErrorUnsupported = 4;
constexpr int kErrorParam = 5;
constexpr int kErrorInputEof = 6;
constexpr int kErrorOutputEof = 7;
constexpr int kErrorFail = 11;

// Filter modes of Lzma86_Encode.
constexpr int kFilterNone = 0;
constexpr int kFilterX86 = 1;
constexpr int kFilterAuto = 2;

// Stream layout: filter byte, 5 LZMA property bytes, unpacked size (LE64).
constexpr size_t kPropsSize = 5;
constexpr size_t kSizeOffset = 1 + kPropsSize;
constexpr size_t kHeaderSize = kSizeOffset + 8;

extern "C" {
using EncodeFn = int (*)(unsigned char* dest, size_t* destLen, const unsigned char* src,
                         size_t srcLen, int level, uint32_t dictSize, int filterMode);
using DecodeFn = int (*)(unsigned char* dest, size_t* destLen, const unsigned char* src,
                         size_t* srcLen);
using GetUnpackSizeFn = int (*)(const unsigned char* src, size_t srcLen, uint64_t* unpackSize);
}

}  // namespace udra::lzma86

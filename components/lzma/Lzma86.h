// The LZMA SDK's LZMA86 functions on top of liblzma: a filter byte (0 none,
// 1 x86 BCJ), the five LZMA property bytes, the unpacked size as a
// little-endian 64-bit value (all ones: unknown, end marker required), then a
// raw LZMA1 stream with or without end marker. Results are the SDK's codes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace udra::lzma86 {

// Compresses `src` into `dest` (capacity *destLen; on success the length
// written). `level` 0..9 (negative: 5), `dictSize` 0 for the level's default,
// `filterMode` none, x86 or auto (the smaller of both). The stream carries its
// size and no end marker.
int Encode(uint8_t* dest, size_t* destLen, const uint8_t* src, size_t srcLen, int level,
           uint32_t dictSize, int filterMode);

// Decompresses at most *destLen bytes; *destLen receives the bytes written
// and *srcLen the bytes read. A stream whose announced size exceeds *destLen
// is decoded up to *destLen bytes, like the SDK. lc + lp above 4 is
// unsupported (a limit of liblzma; the SDK's encoders never produce it).
int Decode(uint8_t* dest, size_t* destLen, const uint8_t* src, size_t* srcLen);

int GetUnpackSize(const uint8_t* src, size_t srcLen, uint64_t* unpackSize);

}  // namespace udra::lzma86

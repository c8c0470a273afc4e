// LZMA86 streams made and read with the reference SDK sources (LzmaEnc.c,
// LzmaDec.c) and a reference x86 branch converter, for comparison with the
// module.
#pragma once

#include <cstdint>
#include <vector>

namespace udra::test {

using Bytes = std::vector<uint8_t>;

// An LZMA86 stream encoded by the SDK. `unknownSize` writes all ones as the
// size (then an end marker is written regardless of `endMark`).
Bytes SdkEncode86(const Bytes& data, bool x86, bool endMark, int level, bool unknownSize = false);

// Decodes an LZMA86 stream with the SDK's decoder; false on any error.
bool SdkDecode86(const Bytes& stream, Bytes& out);

// The LZMA SDK's x86 BCJ conversion, start offset 0, in place.
void X86Convert(Bytes& data, bool encoding);

}  // namespace udra::test

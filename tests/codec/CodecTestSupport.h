// Helpers shared by the codec tests: the staged "LZMA.DLL" and stored entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/LzmaCodec.h"
#include "support/OsSupport.h"

namespace udra::test {

using Bytes = std::vector<uint8_t>;

// The codec bound from the staging folder (where the build puts LZMA.DLL).
const LzmaCodec& StagedCodec();

// Skips the calling test where the build has no LZMA.DLL to stage (Windows,
// while the companions do not build there); elsewhere a missing module fails
// the test as before.
#define UDRA_SKIP_WITHOUT_STAGED_CODEC()                                                 \
  do {                                                                                   \
    if (::udra::test::kOnWindows && !::udra::test::StagedCodec().IsLoaded())             \
      GTEST_SKIP() << "LZMA.DLL is not built for Windows, so no entry can be made here"; \
  } while (0)

// An LZMA86 stream of `data` made by the staged module.
Bytes Lzma86Of(const Bytes& data, int filterMode = 0);

// The stored form of `data` (LZMA86, framed, enciphered with the entry key).
Bytes StoredOf(const Bytes& data, int filterMode = 0);

// DecodeEntry with `limit` as the accepted size; true and the bytes on success.
bool Decode(const Bytes& entry, int32_t limit, Bytes& out, const LzmaCodec& codec = StagedCodec());

Bytes ReadFileBytes(const std::string& path);
std::string MakeTempFolder(const char* tag);
void RemoveTree(const std::string& path);

}  // namespace udra::test

// Helpers shared by the codec tests: the staged "LZMA.DLL" and stored entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/LzmaCodec.h"

namespace udra::test {

using Bytes = std::vector<uint8_t>;

// The codec bound from the staging folder (where the build puts LZMA.DLL).
const LzmaCodec& StagedCodec();

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

// Turns file bytes into their stored form: LZMA86 (liblzma through the same
// code as "LZMA.DLL", linked in so the tool needs no module beside it), then
// framed and enciphered with the entry key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace udra::publish {

struct EncoderSettings {
  int level = 6;        // 0..9
  int filterMode = 0;   // lzma86::kFilterNone, kFilterX86 or kFilterAuto
};

// The stored form of `data`. The head byte's free bits, filler and salt are
// derived from the content's digest, so publishing is reproducible. False
// with `error` set when compression fails.
bool EncodeEntry(const EncoderSettings& settings, const std::vector<uint8_t>& data,
                 std::vector<uint8_t>& stored, std::string& error);

// Wraps an existing LZMA86 stream; its header must be well-formed.
bool WrapLzma86(const std::vector<uint8_t>& stream, std::vector<uint8_t>& stored,
                std::string& error);

}  // namespace udra::publish

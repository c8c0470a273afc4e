// The binding of "LZMA.DLL" and the decoding of stored entries.
#pragma once

#include <cstdint>
#include <string>

#include "codec/Lzma86Api.h"
#include "platform/Module.h"

namespace udra {

// "LZMA.DLL" and its three bound exports. Any pointer may be null (module or
// export missing); each user checks the one it needs.
class LzmaCodec {
 public:
  LzmaCodec() = default;
  ~LzmaCodec();
  LzmaCodec(LzmaCodec&& other) noexcept;
  LzmaCodec& operator=(LzmaCodec&& other) noexcept;
  LzmaCodec(const LzmaCodec&) = delete;
  LzmaCodec& operator=(const LzmaCodec&) = delete;

  // Loads "LZMA.DLL" from `folder` and binds its exports. An empty folder
  // binds nothing (the module is never searched for elsewhere).
  static LzmaCodec Bind(const std::string& folder);

  bool IsLoaded() const { return module != nullptr; }

  platform::ModuleHandle module = nullptr;
  lzma86::EncodeFn encode = nullptr;  // bound, not used by the library
  lzma86::DecodeFn decode = nullptr;
  lzma86::GetUnpackSizeFn getUnpackSize = nullptr;

 private:
  void Release();
};

// The process-wide codec, bound from ModuleFolder on the first call. The
// binding is made once, also when it failed; the module stays loaded until
// the process ends.
// The first call is not locked: callers serialise it (the manager lock).
const LzmaCodec& GetLzmaCodec();

// The unpacked size announced by an LZMA86 stream. False when the export is
// missing, the call fails, or the size does not fit in 32 bits.
bool GetUnpackSize(const LzmaCodec& codec, const void* data, uint32_t length, uint32_t& size);

// Deciphers and decompresses one stored entry. On input *inoutSize is the
// largest decoded size accepted; on success *out receives a new[]-allocated
// buffer the caller owns and *inoutSize its length. On failure *out is null,
// *inoutSize is 0 and nothing is allocated; null arguments or an empty entry
// return false and change nothing.
bool DecodeEntry(const LzmaCodec& codec, const void* data, uint32_t length, char** out,
                 int32_t* inoutSize);

}  // namespace udra

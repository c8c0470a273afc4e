#include "codec/LzmaCodec.h"

#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "codec/StoredEntry.h"
#include "codec/Tea.h"
#include "util/Paths.h"

namespace udra {
namespace {

constexpr char kModuleName[] = "LZMA.DLL";

template <typename Fn>
Fn Symbol(platform::ModuleHandle module, const char* name) {
  return reinterpret_cast<Fn>(platform::ModuleSymbol(module, name));
}

bool Fail(char** out, int32_t* inoutSize) {
  *out = nullptr;
  *inoutSize = 0;
  return false;
}

}  // namespace

LzmaCodec::~LzmaCodec() { Release(); }

LzmaCodec::LzmaCodec(LzmaCodec&& other) noexcept { *this = std::move(other); }

LzmaCodec& LzmaCodec::operator=(LzmaCodec&& other) noexcept {
  if (this != &other) {
    Release();
    module = std::exchange(other.module, nullptr);
    encode = std::exchange(other.encode, nullptr);
    decode = std::exchange(other.decode, nullptr);
    getUnpackSize = std::exchange(other.getUnpackSize, nullptr);
  }
  return *this;
}

void LzmaCodec::Release() {
  encode = nullptr;
  decode = nullptr;
  getUnpackSize = nullptr;
  if (module != nullptr) platform::FreeModule(module);
  module = nullptr;
}

LzmaCodec LzmaCodec::Bind(const std::string& folder) {
  LzmaCodec codec;
  if (folder.empty()) return codec;
  codec.module = platform::LoadModule(JoinPath(folder, kModuleName));
  if (codec.module == nullptr) return codec;
  codec.encode = Symbol<lzma86::EncodeFn>(codec.module, "Lzma86_Encode");
  codec.decode = Symbol<lzma86::DecodeFn>(codec.module, "Lzma86_Decode");
  codec.getUnpackSize = Symbol<lzma86::GetUnpackSizeFn>(codec.module, "Lzma86_GetUnpackSize");
  return codec;
}

const LzmaCodec& GetLzmaCodec() {
  // When the library's folder is unknown nothing is loaded: the module is
  // never looked for on the system's search path.
  //
  // The binding lives until the process ends and is never destroyed: a
  // destructor run at exit would free "LZMA.DLL" from code that the game may
  // already have unloaded with this library (it would return into unmapped
  // code). The system releases the module with the process.
  static const LzmaCodec* codec = [] {
    std::string folder;
    if (!ModuleFolder(folder)) folder.clear();
    return new LzmaCodec(LzmaCodec::Bind(folder));
  }();
  return *codec;
}

bool GetUnpackSize(const LzmaCodec& codec, const void* data, uint32_t length, uint32_t& size) {
  if (codec.getUnpackSize == nullptr) return false;
  uint64_t unpacked = 0;
  if (codec.getUnpackSize(static_cast<const unsigned char*>(data), length, &unpacked) !=
      lzma86::kOk) {
    return false;
  }
  // A size beyond 32 bits is refused rather than cut to its low bits: a cut
  // size would pass the caller's limit and yield a silently short result.
  if (unpacked > UINT32_MAX) return false;
  size = uint32_t(unpacked);
  return true;
}

bool DecodeEntry(const LzmaCodec& codec, const void* data, uint32_t length, char** out,
                 int32_t* inoutSize) {
  if (data == nullptr || length == 0 || out == nullptr || inoutSize == nullptr) return false;
  *out = nullptr;
  const uint32_t limit = *inoutSize > 0 ? uint32_t(*inoutSize) : 0;

  std::unique_ptr<uint8_t[]> work(new (std::nothrow) uint8_t[length]);
  if (!work) return Fail(out, inoutSize);
  EntryBody body;
  if (!DecipherEntry(EntryKey(), static_cast<const uint8_t*>(data), length, work.get(), body)) {
    return Fail(out, inoutSize);
  }
  const uint8_t* stream = work.get() + body.offset;

  uint32_t unpacked = 0;
  if (!GetUnpackSize(codec, stream, uint32_t(body.length), unpacked) || unpacked > limit) {
    return Fail(out, inoutSize);
  }
  if (codec.decode == nullptr) return Fail(out, inoutSize);
  std::unique_ptr<char[]> result(new (std::nothrow) char[unpacked]);
  if (!result) return Fail(out, inoutSize);
  size_t outLen = unpacked;
  size_t inLen = body.length;
  if (codec.decode(reinterpret_cast<unsigned char*>(result.get()), &outLen, stream, &inLen) !=
          lzma86::kOk ||
      outLen > unpacked) {
    return Fail(out, inoutSize);
  }
  *out = result.release();
  *inoutSize = int32_t(outLen);
  return true;
}

}  // namespace udra

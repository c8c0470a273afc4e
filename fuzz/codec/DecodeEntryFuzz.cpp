// Fuzzes DecodeEntry. The first input byte picks the mode: even values pass
// the rest as a stored entry as-is (deciphering and frame checks); odd ones
// frame and encipher the rest first, so the LZMA86 decoder sees the fuzzer's
// bytes as its stream. Two more bytes give the caller's size limit.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "Lzma86.h"
#include "codec/LzmaCodec.h"
#include "codec/StoredEntry.h"
#include "codec/Tea.h"

namespace {

int DecodeExport(unsigned char* dest, size_t* destLen, const unsigned char* src, size_t* srcLen) {
  return udra::lzma86::Decode(dest, destLen, src, srcLen);
}

int SizeExport(const unsigned char* src, size_t srcLen, uint64_t* size) {
  return udra::lzma86::GetUnpackSize(src, srcLen, size);
}

const udra::LzmaCodec& Codec() {
  static const udra::LzmaCodec codec = [] {
    udra::LzmaCodec c;
    c.decode = &DecodeExport;
    c.getUnpackSize = &SizeExport;
    return c;
  }();
  return codec;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool frame = (data[0] & 1) != 0;
  const int32_t limit = int32_t(data[1]) << 12 | int32_t(data[2]) << 4;  // up to ~1 MiB
  data += 3;
  size -= 3;
  std::vector<uint8_t> entry;
  if (frame) {
    entry = udra::BuildStoredEntry(udra::EntryKey(), data, size, size);
  } else {
    entry.assign(data, data + size);
  }
  char* out = nullptr;
  int32_t outSize = limit;
  const bool ok = udra::DecodeEntry(Codec(), entry.data(), uint32_t(entry.size()), &out, &outSize);
  std::unique_ptr<char[]> owned(out);
  if (ok) {
    if (outSize < 0 || outSize > limit) __builtin_trap();
    if (outSize > 0) {
      volatile char sink = out[outSize - 1];  // the whole result must be readable
      (void)sink;
    }
  } else if (out != nullptr || (outSize != 0 && !entry.empty())) {
    __builtin_trap();
  }
  return 0;
}

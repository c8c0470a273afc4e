#include "SdkReference.h"

#include <cstdlib>

extern "C" {
#include <lzma/LzmaDec.h>
#include <lzma/LzmaEnc.h>
}

namespace udra::test {
namespace {

void* SdkAlloc(void*, size_t size) { return size == 0 ? nullptr : std::malloc(size); }
void SdkFree(void*, void* address) { std::free(address); }
ISzAlloc g_alloc = {SdkAlloc, SdkFree};

constexpr size_t kHeader = 14;

}  // namespace

Bytes SdkEncode86(const Bytes& data, bool x86, bool endMark, int level, bool unknownSize) {
  Bytes input = data;
  if (x86) X86Convert(input, true);
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = level;
  Bytes out(kHeader + data.size() + data.size() / 2 + 1024);
  SizeT destLen = out.size() - kHeader;
  SizeT propsSize = 5;
  const int mark = (endMark || unknownSize) ? 1 : 0;
  if (LzmaEncode(out.data() + kHeader, &destLen, input.data(), input.size(), &props,
                 out.data() + 1, &propsSize, mark, nullptr, &g_alloc, &g_alloc) != SZ_OK) {
    return {};
  }
  out[0] = x86 ? 1 : 0;
  const uint64_t size = unknownSize ? UINT64_MAX : data.size();
  for (int i = 0; i < 8; ++i) out[6 + i] = uint8_t(size >> (8 * i));
  out.resize(kHeader + destLen);
  return out;
}

bool SdkDecode86(const Bytes& stream, Bytes& out) {
  if (stream.size() < kHeader || stream[0] > 1) return false;
  uint64_t size = 0;
  for (int i = 7; i >= 0; --i) size = (size << 8) | stream[6 + i];
  if (size > (1u << 30)) return false;
  out.assign(size, 0);
  SizeT destLen = size;
  SizeT srcLen = stream.size() - kHeader;
  ELzmaStatus status;
  const SRes res = LzmaDecode(out.data(), &destLen, stream.data() + kHeader, &srcLen,
                              stream.data() + 1, 5, LZMA_FINISH_END, &status, &g_alloc);
  if (res != SZ_OK || destLen != size) return false;
  if (stream[0] == 1) X86Convert(out, false);
  return true;
}

// The x86 branch converter as the SDK defines it (state starts at 0, ip 0).
void X86Convert(Bytes& buffer, bool encoding) {
  static const uint8_t kMaskToAllowed[8] = {1, 1, 1, 0, 1, 0, 0, 0};
  static const uint8_t kMaskToBitNumber[8] = {0, 1, 2, 2, 3, 3, 3, 3};
  auto msByte = [](uint8_t b) { return b == 0 || b == 0xFF; };
  const size_t size = buffer.size();
  if (size < 5) return;
  uint8_t* data = buffer.data();
  const uint32_t ip = 5;
  size_t pos = 0;
  size_t prevPos = size_t(0) - 1;
  uint32_t prevMask = 0;
  for (;;) {
    while (pos < size - 4 && (data[pos] & 0xFE) != 0xE8) ++pos;
    if (pos >= size - 4) break;
    uint8_t* p = data + pos;
    const size_t gap = pos - prevPos;
    if (gap > 3) {
      prevMask = 0;
    } else {
      prevMask = (prevMask << (int(gap) - 1)) & 7;
      if (prevMask != 0) {
        const uint8_t b = p[4 - kMaskToBitNumber[prevMask]];
        if (!kMaskToAllowed[prevMask] || msByte(b)) {
          prevPos = pos;
          prevMask = ((prevMask << 1) & 7) | 1;
          ++pos;
          continue;
        }
      }
    }
    prevPos = pos;
    if (msByte(p[4])) {
      uint32_t src = (uint32_t(p[4]) << 24) | (uint32_t(p[3]) << 16) | (uint32_t(p[2]) << 8) | p[1];
      uint32_t dest;
      for (;;) {
        dest = encoding ? (ip + uint32_t(pos)) + src : src - (ip + uint32_t(pos));
        if (prevMask == 0) break;
        const int index = kMaskToBitNumber[prevMask] * 8;
        const uint8_t b = uint8_t(dest >> (24 - index));
        if (!msByte(b)) break;
        src = dest ^ ((1u << (32 - index)) - 1);
      }
      p[4] = uint8_t(~(((dest >> 24) & 1) - 1));
      p[3] = uint8_t(dest >> 16);
      p[2] = uint8_t(dest >> 8);
      p[1] = uint8_t(dest);
      pos += 5;
    } else {
      prevMask = ((prevMask << 1) & 7) | 1;
      ++pos;
    }
  }
}

}  // namespace udra::test

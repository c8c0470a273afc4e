#include "Lzma86.h"

#include <lzma.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "codec/Lzma86Api.h"

namespace udra::lzma86 {
namespace {

constexpr uint32_t kMinDict = LZMA_DICT_SIZE_MIN;
constexpr uint32_t kMaxEncodeDict = 1536u << 20;  // liblzma's encoder limit
constexpr uint64_t kUnknownSize = UINT64_MAX;

uint64_t LoadLe64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void StoreLe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

int FromLzmaRet(lzma_ret ret) {
  switch (ret) {
    case LZMA_OK:
    case LZMA_STREAM_END:
      return kOk;
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR:
      return kErrorMem;
    case LZMA_OPTIONS_ERROR:
      return kErrorUnsupported;
    case LZMA_PROG_ERROR:
      return kErrorParam;
    default:
      return kErrorData;
  }
}

struct Stream {
  lzma_stream s = LZMA_STREAM_INIT;
  ~Stream() { lzma_end(&s); }
};

// A dictionary no larger than needed for `size` bytes, rounded like the SDK
// (2^n or 3 * 2^n), so small inputs do not allocate large match finders.
uint32_t ReducedDict(uint32_t dict, size_t size) {
  if (size >= dict) return dict;
  for (int i = 12; i < 31; ++i) {
    const uint64_t a = uint64_t(2) << i, b = uint64_t(3) << i;
    if (size <= a) return uint32_t(std::min<uint64_t>(dict, a));
    if (size <= b) return uint32_t(std::min<uint64_t>(dict, b));
  }
  return dict;
}

int EncodeOnce(uint8_t* dest, size_t* destLen, const uint8_t* src, size_t srcLen, int level,
               uint32_t dictSize, bool x86) {
  const size_t capacity = *destLen;
  *destLen = 0;
  if (capacity < kHeaderSize) return kErrorOutputEof;
  lzma_options_lzma opt;
  if (lzma_lzma_preset(&opt, uint32_t(level))) return kErrorParam;
  uint32_t dict = dictSize == 0 ? opt.dict_size : dictSize;
  dict = std::clamp(dict, kMinDict, kMaxEncodeDict);
  opt.dict_size = ReducedDict(dict, srcLen);
  opt.ext_flags = 0;  // no end marker: the header carries the size
  opt.ext_size_low = UINT32_MAX;
  opt.ext_size_high = UINT32_MAX;

  lzma_filter filters[3];
  size_t f = 0;
  if (x86) filters[f++] = {LZMA_FILTER_X86, nullptr};
  filters[f++] = {LZMA_FILTER_LZMA1EXT, &opt};
  filters[f] = {LZMA_VLI_UNKNOWN, nullptr};

  Stream stream;
  lzma_ret ret = lzma_raw_encoder(&stream.s, filters);
  if (ret != LZMA_OK) return FromLzmaRet(ret);
  stream.s.next_in = src;
  stream.s.avail_in = srcLen;
  stream.s.next_out = dest + kHeaderSize;
  stream.s.avail_out = capacity - kHeaderSize;
  do {
    ret = lzma_code(&stream.s, LZMA_FINISH);
  } while (ret == LZMA_OK);
  if (ret == LZMA_BUF_ERROR) return kErrorOutputEof;
  if (ret != LZMA_STREAM_END) return FromLzmaRet(ret);

  dest[0] = x86 ? 1 : 0;
  dest[1] = uint8_t((opt.pb * 5 + opt.lp) * 9 + opt.lc);
  for (int i = 0; i < 4; ++i) dest[2 + i] = uint8_t(opt.dict_size >> (8 * i));
  StoreLe64(dest + kSizeOffset, srcLen);
  *destLen = kHeaderSize + stream.s.total_out;
  return kOk;
}

int RawDecode(lzma_options_lzma opt, bool x86, uint64_t size, uint8_t* dest, size_t* destLen,
              const uint8_t* src, size_t* srcLen, size_t capacity, size_t available) {
  opt.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  opt.ext_size_low = uint32_t(size);
  opt.ext_size_high = uint32_t(size >> 32);
  lzma_filter filters[3];
  size_t f = 0;
  if (x86) filters[f++] = {LZMA_FILTER_X86, nullptr};
  filters[f++] = {LZMA_FILTER_LZMA1EXT, &opt};
  filters[f] = {LZMA_VLI_UNKNOWN, nullptr};

  Stream stream;
  lzma_ret ret = lzma_raw_decoder(&stream.s, filters);
  if (ret != LZMA_OK) return FromLzmaRet(ret);
  stream.s.next_in = src + kHeaderSize;
  stream.s.avail_in = available - kHeaderSize;
  stream.s.next_out = dest;
  stream.s.avail_out = capacity;
  if (capacity != 0 || size == 0) {
    do {
      ret = lzma_code(&stream.s, LZMA_FINISH);
    } while (ret == LZMA_OK && stream.s.avail_out != 0);
  }
  *destLen = stream.s.total_out;
  *srcLen = kHeaderSize + stream.s.total_in;
  if (ret == LZMA_STREAM_END || ret == LZMA_OK) return kOk;  // OK: output full
  if (ret == LZMA_BUF_ERROR) return kErrorInputEof;
  return FromLzmaRet(ret);
}

}  // namespace

int GetUnpackSize(const uint8_t* src, size_t srcLen, uint64_t* unpackSize) {
  if (src == nullptr || unpackSize == nullptr) return kErrorParam;
  if (srcLen < kHeaderSize) return kErrorInputEof;
  *unpackSize = LoadLe64(src + kSizeOffset);
  return kOk;
}

int Encode(uint8_t* dest, size_t* destLen, const uint8_t* src, size_t srcLen, int level,
           uint32_t dictSize, int filterMode) {
  if (dest == nullptr || destLen == nullptr || (src == nullptr && srcLen != 0)) return kErrorParam;
  if (level < 0) level = 5;
  if (level > 9 || filterMode < kFilterNone || filterMode > kFilterAuto) {
    *destLen = 0;
    return kErrorParam;
  }
  if (filterMode != kFilterAuto) {
    return EncodeOnce(dest, destLen, src, srcLen, level, dictSize, filterMode == kFilterX86);
  }
  const size_t capacity = *destLen;
  const int plain = EncodeOnce(dest, destLen, src, srcLen, level, dictSize, false);
  if (plain != kOk && plain != kErrorOutputEof) return plain;
  std::vector<uint8_t> filtered;
  try {
    filtered.resize(capacity);
  } catch (const std::bad_alloc&) {
    return plain == kOk ? kOk : kErrorMem;
  }
  size_t filteredLen = capacity;
  const int x86 = EncodeOnce(filtered.data(), &filteredLen, src, srcLen, level, dictSize, true);
  if (x86 == kOk && (plain != kOk || filteredLen < *destLen)) {
    std::memcpy(dest, filtered.data(), filteredLen);
    *destLen = filteredLen;
    return kOk;
  }
  return plain == kOk ? kOk : x86;
}

int Decode(uint8_t* dest, size_t* destLen, const uint8_t* src, size_t* srcLen) {
  if (destLen == nullptr || srcLen == nullptr || src == nullptr) return kErrorParam;
  if (dest == nullptr && *destLen != 0) return kErrorParam;
  const size_t capacity = *destLen;
  const size_t available = *srcLen;
  if (available < kHeaderSize) return kErrorInputEof;
  *destLen = 0;
  *srcLen = 0;
  const uint8_t filter = src[0];
  if (filter > 1) return kErrorUnsupported;

  unsigned d = src[1];
  if (d >= 9 * 5 * 5) return kErrorUnsupported;
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, 0);
  opt.lc = d % 9;
  d /= 9;
  opt.lp = d % 5;
  opt.pb = d / 5;
  if (opt.lc + opt.lp > LZMA_LCLP_MAX) return kErrorUnsupported;
  // Matches never reach further back than the bytes produced, so a
  // dictionary as large as the output suffices: the allocation is bounded by
  // the caller's buffer, never by the header.
  const uint32_t dict = LoadLe32(src + 2);
  opt.dict_size = uint32_t(std::max<uint64_t>(kMinDict, std::min<uint64_t>(dict, capacity)));
  const uint64_t size = LoadLe64(src + kSizeOffset);
  int result = RawDecode(opt, filter == 1, size, dest, destLen, src, srcLen, capacity, available);
  if (result == kErrorData && size != kUnknownSize) {
    // liblzma accepts an end marker only at the announced size; the SDK also
    // ends at an earlier one. Decode again ending at the marker.
    result = RawDecode(opt, filter == 1, kUnknownSize, dest, destLen, src, srcLen, capacity,
                       available);
  }
  return result;
}

}  // namespace udra::lzma86

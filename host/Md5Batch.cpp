#include "host/Md5Batch.h"

#include <cstring>

#include "host/Md5Stream.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define UDRA_MD5_LANES 1
#endif

namespace udra::host {
namespace {

void DigestOne(const Md5Input& input, uint8_t digest[16]) { Md5Stream::Digest(input.data, input.size, digest); }

#ifdef UDRA_MD5_LANES

constexpr size_t kLanes = 8;
constexpr uint32_t kInit[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
alignas(32) constexpr uint8_t kIdleBlock[64] = {};

// The 64-byte blocks of one input: its whole blocks in place, then one or
// two blocks holding the rest, the 0x80 marker and the length in bits.
class LaneFeed {
 public:
  void Start(const Md5Input& input, size_t index) {
    const auto* bytes = static_cast<const uint8_t*>(input.data);
    next_ = bytes;
    wholeBlocks_ = input.size / 64;
    const size_t rest = input.size % 64;
    memset(tail_, 0, sizeof tail_);
    if (rest > 0) memcpy(tail_, bytes + wholeBlocks_ * 64, rest);
    tail_[rest] = 0x80;
    tailBlocks_ = rest < 56 ? 1 : 2;
    tailTaken_ = 0;
    const uint64_t bits = static_cast<uint64_t>(input.size) * 8;
    for (int i = 0; i < 8; ++i) tail_[tailBlocks_ * 64 - 8 + i] = static_cast<uint8_t>(bits >> (8 * i));
    index_ = index;
    busy_ = true;
  }
  void Stop() { busy_ = false; }
  bool busy() const { return busy_; }
  bool done() const { return wholeBlocks_ == 0 && tailTaken_ == tailBlocks_; }
  size_t index() const { return index_; }
  const uint8_t* Next() {
    if (!busy_) return kIdleBlock;
    if (wholeBlocks_ > 0) {
      const uint8_t* block = next_;
      next_ += 64;
      --wholeBlocks_;
      return block;
    }
    return tail_ + 64 * tailTaken_++;
  }

 private:
  const uint8_t* next_ = nullptr;
  size_t wholeBlocks_ = 0;
  uint8_t tail_[128];
  int tailBlocks_ = 0;
  int tailTaken_ = 0;
  size_t index_ = 0;
  bool busy_ = false;
};

#define UDRA_TARGET __attribute__((target("avx2")))
#define ROTL(x, s) _mm256_or_si256(_mm256_slli_epi32(x, s), _mm256_srli_epi32(x, 32 - (s)))
#define F(b, c, d) _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d)))
#define G(b, c, d) _mm256_xor_si256(c, _mm256_and_si256(d, _mm256_xor_si256(b, c)))
#define H(b, c, d) _mm256_xor_si256(_mm256_xor_si256(b, c), d)
#define I(b, c, d) _mm256_xor_si256(c, _mm256_or_si256(b, _mm256_xor_si256(d, ones)))
#define STEP(f, a, b, c, d, k, s, t)                                                                             \
  a = _mm256_add_epi32(b, ROTL(_mm256_add_epi32(_mm256_add_epi32(a, f(b, c, d)),                                 \
                                                _mm256_add_epi32(m[k], _mm256_set1_epi32(static_cast<int>(t)))), \
                               s))

// Word i of eight rows, one row per lane: an 8 x 8 transpose.
UDRA_TARGET void Transpose(const __m256i r[8], __m256i out[8]) {
  const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]), t1 = _mm256_unpackhi_epi32(r[0], r[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]), t3 = _mm256_unpackhi_epi32(r[2], r[3]);
  const __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]), t5 = _mm256_unpackhi_epi32(r[4], r[5]);
  const __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]), t7 = _mm256_unpackhi_epi32(r[6], r[7]);
  const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
  const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
  const __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
  const __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
  out[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
  out[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
  out[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
  out[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
  out[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
  out[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
  out[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
  out[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

// One block per lane through the MD5 compression function.
UDRA_TARGET void Compress(__m256i state[4], const uint8_t* const blocks[kLanes]) {
  __m256i m[16], rows[8];
  for (int half = 0; half < 2; ++half) {
    for (size_t lane = 0; lane < kLanes; ++lane)
      rows[lane] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(blocks[lane] + 32 * half));
    Transpose(rows, m + 8 * half);
  }
  const __m256i ones = _mm256_set1_epi32(-1);
  __m256i a = state[0], b = state[1], c = state[2], d = state[3];
  STEP(F, a, b, c, d, 0, 7, 0xd76aa478u);
  STEP(F, d, a, b, c, 1, 12, 0xe8c7b756u);
  STEP(F, c, d, a, b, 2, 17, 0x242070dbu);
  STEP(F, b, c, d, a, 3, 22, 0xc1bdceeeu);
  STEP(F, a, b, c, d, 4, 7, 0xf57c0fafu);
  STEP(F, d, a, b, c, 5, 12, 0x4787c62au);
  STEP(F, c, d, a, b, 6, 17, 0xa8304613u);
  STEP(F, b, c, d, a, 7, 22, 0xfd469501u);
  STEP(F, a, b, c, d, 8, 7, 0x698098d8u);
  STEP(F, d, a, b, c, 9, 12, 0x8b44f7afu);
  STEP(F, c, d, a, b, 10, 17, 0xffff5bb1u);
  STEP(F, b, c, d, a, 11, 22, 0x895cd7beu);
  STEP(F, a, b, c, d, 12, 7, 0x6b901122u);
  STEP(F, d, a, b, c, 13, 12, 0xfd987193u);
  STEP(F, c, d, a, b, 14, 17, 0xa679438eu);
  STEP(F, b, c, d, a, 15, 22, 0x49b40821u);
  STEP(G, a, b, c, d, 1, 5, 0xf61e2562u);
  STEP(G, d, a, b, c, 6, 9, 0xc040b340u);
  STEP(G, c, d, a, b, 11, 14, 0x265e5a51u);
  STEP(G, b, c, d, a, 0, 20, 0xe9b6c7aau);
  STEP(G, a, b, c, d, 5, 5, 0xd62f105du);
  STEP(G, d, a, b, c, 10, 9, 0x02441453u);
  STEP(G, c, d, a, b, 15, 14, 0xd8a1e681u);
  STEP(G, b, c, d, a, 4, 20, 0xe7d3fbc8u);
  STEP(G, a, b, c, d, 9, 5, 0x21e1cde6u);
  STEP(G, d, a, b, c, 14, 9, 0xc33707d6u);
  STEP(G, c, d, a, b, 3, 14, 0xf4d50d87u);
  STEP(G, b, c, d, a, 8, 20, 0x455a14edu);
  STEP(G, a, b, c, d, 13, 5, 0xa9e3e905u);
  STEP(G, d, a, b, c, 2, 9, 0xfcefa3f8u);
  STEP(G, c, d, a, b, 7, 14, 0x676f02d9u);
  STEP(G, b, c, d, a, 12, 20, 0x8d2a4c8au);
  STEP(H, a, b, c, d, 5, 4, 0xfffa3942u);
  STEP(H, d, a, b, c, 8, 11, 0x8771f681u);
  STEP(H, c, d, a, b, 11, 16, 0x6d9d6122u);
  STEP(H, b, c, d, a, 14, 23, 0xfde5380cu);
  STEP(H, a, b, c, d, 1, 4, 0xa4beea44u);
  STEP(H, d, a, b, c, 4, 11, 0x4bdecfa9u);
  STEP(H, c, d, a, b, 7, 16, 0xf6bb4b60u);
  STEP(H, b, c, d, a, 10, 23, 0xbebfbc70u);
  STEP(H, a, b, c, d, 13, 4, 0x289b7ec6u);
  STEP(H, d, a, b, c, 0, 11, 0xeaa127fau);
  STEP(H, c, d, a, b, 3, 16, 0xd4ef3085u);
  STEP(H, b, c, d, a, 6, 23, 0x04881d05u);
  STEP(H, a, b, c, d, 9, 4, 0xd9d4d039u);
  STEP(H, d, a, b, c, 12, 11, 0xe6db99e5u);
  STEP(H, c, d, a, b, 15, 16, 0x1fa27cf8u);
  STEP(H, b, c, d, a, 2, 23, 0xc4ac5665u);
  STEP(I, a, b, c, d, 0, 6, 0xf4292244u);
  STEP(I, d, a, b, c, 7, 10, 0x432aff97u);
  STEP(I, c, d, a, b, 14, 15, 0xab9423a7u);
  STEP(I, b, c, d, a, 5, 21, 0xfc93a039u);
  STEP(I, a, b, c, d, 12, 6, 0x655b59c3u);
  STEP(I, d, a, b, c, 3, 10, 0x8f0ccc92u);
  STEP(I, c, d, a, b, 10, 15, 0xffeff47du);
  STEP(I, b, c, d, a, 1, 21, 0x85845dd1u);
  STEP(I, a, b, c, d, 8, 6, 0x6fa87e4fu);
  STEP(I, d, a, b, c, 15, 10, 0xfe2ce6e0u);
  STEP(I, c, d, a, b, 6, 15, 0xa3014314u);
  STEP(I, b, c, d, a, 13, 21, 0x4e0811a1u);
  STEP(I, a, b, c, d, 4, 6, 0xf7537e82u);
  STEP(I, d, a, b, c, 11, 10, 0xbd3af235u);
  STEP(I, c, d, a, b, 2, 15, 0x2ad7d2bbu);
  STEP(I, b, c, d, a, 9, 21, 0xeb86d391u);
  state[0] = _mm256_add_epi32(state[0], a);
  state[1] = _mm256_add_epi32(state[1], b);
  state[2] = _mm256_add_epi32(state[2], c);
  state[3] = _mm256_add_epi32(state[3], d);
}

#undef STEP
#undef I
#undef H
#undef G
#undef F
#undef ROTL

// Each lane hashes one input after another; a lane whose input is done
// writes its digest and takes the next input, or idles on a block of zeros
// once none is left.
UDRA_TARGET void DigestInLanes(const Md5Input* inputs, size_t count, uint8_t (*digests)[16]) {
  LaneFeed lanes[kLanes];
  alignas(32) uint32_t words[4][kLanes];
  size_t next = 0;
  for (size_t lane = 0; lane < kLanes; ++lane) {
    for (int w = 0; w < 4; ++w) words[w][lane] = kInit[w];
    if (next < count) {
      lanes[lane].Start(inputs[next], next);
      ++next;
    }
  }
  __m256i state[4];
  for (int w = 0; w < 4; ++w) state[w] = _mm256_load_si256(reinterpret_cast<const __m256i*>(words[w]));
  size_t busy = count < kLanes ? count : kLanes;
  while (busy > 0) {
    const uint8_t* blocks[kLanes];
    bool anyDone = false;
    for (size_t lane = 0; lane < kLanes; ++lane) {
      blocks[lane] = lanes[lane].Next();
      anyDone = anyDone || (lanes[lane].busy() && lanes[lane].done());
    }
    Compress(state, blocks);
    if (!anyDone) continue;
    for (int w = 0; w < 4; ++w) _mm256_store_si256(reinterpret_cast<__m256i*>(words[w]), state[w]);
    for (size_t lane = 0; lane < kLanes; ++lane) {
      LaneFeed& feed = lanes[lane];
      if (!feed.busy() || !feed.done()) continue;
      for (int w = 0; w < 4; ++w) memcpy(digests[feed.index()] + 4 * w, &words[w][lane], 4);
      for (int w = 0; w < 4; ++w) words[w][lane] = kInit[w];
      if (next < count) {
        feed.Start(inputs[next], next);
        ++next;
      } else {
        feed.Stop();
        --busy;
      }
    }
    for (int w = 0; w < 4; ++w) state[w] = _mm256_load_si256(reinterpret_cast<const __m256i*>(words[w]));
  }
}

#undef UDRA_TARGET

bool HaveLanes() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}

#endif  // UDRA_MD5_LANES

}  // namespace

void Md5Digests(const Md5Input* inputs, size_t count, uint8_t (*digests)[16], bool vector) {
#ifdef UDRA_MD5_LANES
  // A single input gains nothing from the lanes.
  if (vector && count > 1 && HaveLanes()) return DigestInLanes(inputs, count, digests);
#else
  (void)vector;
#endif
  for (size_t i = 0; i < count; ++i) DigestOne(inputs[i], digests[i]);
}

}  // namespace udra::host

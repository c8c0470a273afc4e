#include "util/Md5.h"

#include <cstring>

namespace udra {
namespace {

inline uint32_t Rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

// The 64 steps round by round, each round's loop unrolled so that every
// message index is a constant: no branch or indexed load per step, and the
// compiler keeps everything in registers.
#define UDRA_MD5_STEP(f, a, b, c, d, x, t, s) \
  a += f(b, c, d) + (x) + (t);                \
  a = Rotl(a, s) + b
#define UDRA_MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
// G's two halves are added one at a time: the half without b is ready
// before b is, which takes a step off each round's chain of dependencies.
#define UDRA_MD5_STEP_G(a, b, c, d, x, t, s) \
  a += ((c) & ~(d)) + (x) + (t);             \
  a += (b) & (d);                            \
  a = Rotl(a, s) + b
#define UDRA_MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define UDRA_MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

void Md5::Transform(const uint8_t block[64]) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = LoadLe32(block + 4 * i);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
#pragma GCC unroll 4
  for (int i = 0; i < 16; i += 4) {
    UDRA_MD5_STEP(UDRA_MD5_F, a, b, c, d, m[i], kT[i], 7);
    UDRA_MD5_STEP(UDRA_MD5_F, d, a, b, c, m[i + 1], kT[i + 1], 12);
    UDRA_MD5_STEP(UDRA_MD5_F, c, d, a, b, m[i + 2], kT[i + 2], 17);
    UDRA_MD5_STEP(UDRA_MD5_F, b, c, d, a, m[i + 3], kT[i + 3], 22);
  }
#pragma GCC unroll 4
  for (int i = 16; i < 32; i += 4) {
    UDRA_MD5_STEP_G(a, b, c, d, m[(5 * i + 1) & 15], kT[i], 5);
    UDRA_MD5_STEP_G(d, a, b, c, m[(5 * i + 6) & 15], kT[i + 1], 9);
    UDRA_MD5_STEP_G(c, d, a, b, m[(5 * i + 11) & 15], kT[i + 2], 14);
    UDRA_MD5_STEP_G(b, c, d, a, m[(5 * i + 16) & 15], kT[i + 3], 20);
  }
#pragma GCC unroll 4
  for (int i = 32; i < 48; i += 4) {
    UDRA_MD5_STEP(UDRA_MD5_H, a, b, c, d, m[(3 * i + 5) & 15], kT[i], 4);
    UDRA_MD5_STEP(UDRA_MD5_H, d, a, b, c, m[(3 * i + 8) & 15], kT[i + 1], 11);
    UDRA_MD5_STEP(UDRA_MD5_H, c, d, a, b, m[(3 * i + 11) & 15], kT[i + 2], 16);
    UDRA_MD5_STEP(UDRA_MD5_H, b, c, d, a, m[(3 * i + 14) & 15], kT[i + 3], 23);
  }
#pragma GCC unroll 4
  for (int i = 48; i < 64; i += 4) {
    UDRA_MD5_STEP(UDRA_MD5_I, a, b, c, d, m[(7 * i) & 15], kT[i], 6);
    UDRA_MD5_STEP(UDRA_MD5_I, d, a, b, c, m[(7 * i + 7) & 15], kT[i + 1], 10);
    UDRA_MD5_STEP(UDRA_MD5_I, c, d, a, b, m[(7 * i + 14) & 15], kT[i + 2], 15);
    UDRA_MD5_STEP(UDRA_MD5_I, b, c, d, a, m[(7 * i + 21) & 15], kT[i + 3], 21);
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

#undef UDRA_MD5_STEP
#undef UDRA_MD5_F
#undef UDRA_MD5_STEP_G
#undef UDRA_MD5_H
#undef UDRA_MD5_I

void Md5::Update(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  size_t used = size_t(length_ & 63);
  length_ += size;
  if (used) {
    const size_t take = size < 64 - used ? size : 64 - used;
    std::memcpy(buffer_ + used, p, take);
    p += take;
    size -= take;
    if (used + take < 64) return;
    Transform(buffer_);
  }
  for (; size >= 64; p += 64, size -= 64) Transform(p);
  if (size) std::memcpy(buffer_, p, size);
}

void Md5::Final(uint8_t digest[16]) {
  const uint64_t bits = length_ * 8;
  static const uint8_t kPad[64] = {0x80};
  const size_t used = size_t(length_ & 63);
  Update(kPad, used < 56 ? 56 - used : 120 - used);
  uint8_t tail[8];
  for (int i = 0; i < 8; ++i) tail[i] = uint8_t(bits >> (8 * i));
  Update(tail, 8);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) digest[4 * i + j] = uint8_t(state_[i] >> (8 * j));
}

std::string Md5::ToHex(const uint8_t digest[16]) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out(32, '0');
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 15];
  }
  return out;
}

std::string Md5::HexDigest(const void* data, size_t size) {
  Md5 md5;
  md5.Update(data, size);
  uint8_t digest[16];
  md5.Final(digest);
  return ToHex(digest);
}

}  // namespace udra

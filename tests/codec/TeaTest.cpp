// TEA-16 and CBC against vectors computed by an independent Python model of
// the cipher (16 rounds, big-endian halves, zero initial vector).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "codec/Tea.h"
#include "util/Md5.h"

namespace udra {
namespace {

const TeaKey kDefaultKey{{0x3A9C17E5u, 0x6B20D4F1u, 0xC58E0B37u, 0x91F46A2Du}};
const TeaKey kOtherKey{{0x01234567u, 0x89ABCDEFu, 0xFEDCBA98u, 0x76543210u}};

std::vector<uint8_t> FromHex(const char* hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
    unsigned v = 0;
    std::sscanf(hex + i, "%2x", &v);
    out.push_back(uint8_t(v));
  }
  return out;
}

struct BlockVector {
  const TeaKey* key;
  const char* plain;
  const char* cipherHex;
};

TEST(Tea, BlocksMatchReferenceVectors) {
  const BlockVector vectors[] = {
      {&kDefaultKey, "\0\0\0\0\0\0\0\0", "a8df0141aa08d5ac"},
      {&kDefaultKey, "UDRA-TEA", "e67b90b4f1e5fd7d"},
      {&kOtherKey, "\0\0\0\0\0\0\0\0", "6a11ff7d571fc65c"},
      {&kOtherKey, "UDRA-TEA", "636f171211a90c36"},
  };
  for (const BlockVector& v : vectors) {
    uint8_t block[8];
    std::memcpy(block, v.plain, 8);
    TeaEncryptBlock(*v.key, block);
    EXPECT_EQ(std::vector<uint8_t>(block, block + 8), FromHex(v.cipherHex)) << v.cipherHex;
    TeaDecryptBlock(*v.key, block);
    EXPECT_EQ(0, std::memcmp(block, v.plain, 8));
  }
}

std::vector<uint8_t> Pattern(size_t blocks) {
  std::vector<uint8_t> pt(blocks * 8);
  for (size_t i = 0; i < pt.size(); ++i) pt[i] = uint8_t(i * 7 + 3);
  return pt;
}

TEST(Tea, CbcMatchesReferenceAndDecryptsInAndOutOfPlace) {
  // 37 blocks: a full group of the batched decryptor (32) and a tail of five.
  const std::vector<uint8_t> pt = Pattern(37);
  std::vector<uint8_t> ct(pt.size());
  TeaCbcEncrypt(kDefaultKey, pt.data(), ct.data(), 37);
  EXPECT_EQ(Md5::HexDigest(ct.data(), ct.size()), "47DA845284ED5C513B0C02C2E6494C58");
  EXPECT_EQ(std::vector<uint8_t>(ct.begin(), ct.begin() + 16),
            FromHex("97fe15e9b24fdf663bdc4923847b690b"));

  std::vector<uint8_t> out(pt.size());
  TeaCbcDecrypt(kDefaultKey, ct.data(), out.data(), 37);
  EXPECT_EQ(out, pt);
  TeaCbcDecrypt(kDefaultKey, ct.data(), ct.data(), 37);
  EXPECT_EQ(ct, pt);
}

TEST(Tea, CbcRoundTripsEveryLengthAroundTheGroupSize) {
  for (size_t blocks = 0; blocks <= 70; ++blocks) {
    const std::vector<uint8_t> pt = Pattern(blocks);
    std::vector<uint8_t> buf = pt;
    TeaCbcEncrypt(kOtherKey, buf.data(), buf.data(), blocks);
    TeaCbcDecrypt(kOtherKey, buf.data(), buf.data(), blocks);
    EXPECT_EQ(buf, pt) << blocks;
  }
}

}  // namespace
}  // namespace udra

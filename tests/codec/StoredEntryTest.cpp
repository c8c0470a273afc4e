// Framing of stored entries: head byte, filler, salt, body, zero trailer.
#include <gtest/gtest.h>

#include <vector>

#include "codec/StoredEntry.h"
#include "codec/Tea.h"

namespace udra {
namespace {

const TeaKey kKey{{0x11111111u, 0x22222222u, 0x33333333u, 0x44444444u}};

std::vector<uint8_t> Encipher(std::vector<uint8_t> plain) {
  TeaCbcEncrypt(kKey, plain.data(), plain.data(), plain.size() / 8);
  return plain;
}

bool Decipher(const std::vector<uint8_t>& entry, std::vector<uint8_t>& body) {
  std::vector<uint8_t> work(entry.size());
  EntryBody where;
  if (!DecipherEntry(kKey, entry.data(), entry.size(), work.data(), where)) return false;
  body.assign(work.begin() + where.offset, work.begin() + where.offset + where.length);
  return true;
}

TEST(StoredEntry, BuildAndDecipherEveryFillerCount) {
  for (size_t length = 0; length <= 40; ++length) {
    std::vector<uint8_t> body(length);
    for (size_t i = 0; i < length; ++i) body[i] = uint8_t(0xA0 + i);
    const std::vector<uint8_t> entry = BuildStoredEntry(kKey, body.data(), length, length * 31);
    EXPECT_EQ(entry.size() % 8, 0u);
    EXPECT_GE(entry.size(), kStoredEntryMinSize);
    EXPECT_LE(entry.size(), length + kStoredEntryOverhead + 7);
    std::vector<uint8_t> back;
    ASSERT_TRUE(Decipher(entry, back)) << length;
    EXPECT_EQ(back, body);
  }
}

TEST(StoredEntry, HeadByteFreeBitsFillerAndSaltAreIgnored) {
  // Head 0xFB: n = 3, free bits set; filler and salt arbitrary; 3-byte body.
  std::vector<uint8_t> plain = {0xFB, 9, 9, 9, 0x5A, 0xA5, 'a', 'b', 'c', 0, 0, 0, 0, 0, 0, 0};
  std::vector<uint8_t> body;
  ASSERT_TRUE(Decipher(Encipher(plain), body));
  EXPECT_EQ(body, (std::vector<uint8_t>{'a', 'b', 'c'}));
}

TEST(StoredEntry, BadFramesFail) {
  std::vector<uint8_t> body;
  const std::vector<uint8_t> good = BuildStoredEntry(kKey, (const uint8_t*)"0123456789", 10, 1);
  // Length not a multiple of 8, or below 16.
  EXPECT_FALSE(Decipher(std::vector<uint8_t>(good.begin(), good.end() - 1), body));
  EXPECT_FALSE(Decipher(std::vector<uint8_t>(good.begin(), good.begin() + 8), body));
  EXPECT_FALSE(Decipher({}, body));
  // A trailer byte that is not zero.
  for (size_t at = 9; at < 16; ++at) {
    std::vector<uint8_t> plain(16, 0);
    plain[0] = 6;  // n = 6: body length 0, trailer bytes 9..15
    plain[at] = 1;
    EXPECT_FALSE(Decipher(Encipher(plain), body)) << at;
  }
  // n = 7 in 16 bytes leaves a negative body length.
  std::vector<uint8_t> plain(16, 0);
  plain[0] = 7;
  EXPECT_FALSE(Decipher(Encipher(plain), body));
  plain[0] = 6;
  EXPECT_TRUE(Decipher(Encipher(plain), body));
  EXPECT_TRUE(body.empty());
}

}  // namespace
}  // namespace udra

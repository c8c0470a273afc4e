// Streams of the reference SDK decode with the module and the module's
// streams decode with the SDK, with and without the x86 filter and end marker.
#include <gtest/gtest.h>

#include <tuple>

#include "Lzma86.h"
#include "SdkReference.h"
#include "TestData.h"
#include "codec/Lzma86Api.h"

namespace udra::test {
namespace {

enum class Kind { Text, Random, X86, Empty, Tiny };

Bytes Make(Kind kind) {
  switch (kind) {
    case Kind::Text: return TextData(300000);
    case Kind::Random: return RandomData(70000, 7);
    case Kind::X86: return X86LikeData(200000, 11);
    case Kind::Empty: return {};
    case Kind::Tiny: return {0xE8, 1, 2, 0, 0, 0x41};
  }
  return {};
}

Bytes ModuleEncode(const Bytes& data, int filterMode, int level = 5) {
  Bytes out(data.size() + data.size() / 4 + 4096);
  size_t len = out.size();
  EXPECT_EQ(lzma86::Encode(out.data(), &len, data.data(), data.size(), level, 0, filterMode),
            lzma86::kOk);
  out.resize(len);
  return out;
}

int ModuleDecode(const Bytes& stream, Bytes& out, size_t capacity) {
  out.assign(capacity, 0);
  size_t outLen = capacity, inLen = stream.size();
  const int res = lzma86::Decode(out.data(), &outLen, stream.data(), &inLen);
  out.resize(outLen);
  return res;
}

class Interop : public ::testing::TestWithParam<std::tuple<Kind, bool, bool>> {};

TEST_P(Interop, SdkStreamDecodesWithModule) {
  const auto [kind, x86, endMark] = GetParam();
  const Bytes data = Make(kind);
  const Bytes stream = SdkEncode86(data, x86, endMark, 5);
  ASSERT_FALSE(stream.empty());
  uint64_t announced = 0;
  ASSERT_EQ(lzma86::GetUnpackSize(stream.data(), stream.size(), &announced), lzma86::kOk);
  EXPECT_EQ(announced, data.size());
  Bytes out;
  ASSERT_EQ(ModuleDecode(stream, out, data.size()), lzma86::kOk);
  EXPECT_TRUE(out == data);
}

TEST_P(Interop, ModuleStreamDecodesWithSdk) {
  const auto [kind, x86, level9] = GetParam();
  const Bytes data = Make(kind);
  const Bytes stream = ModuleEncode(data, x86 ? lzma86::kFilterX86 : lzma86::kFilterNone,
                                    level9 ? 9 : 1);
  ASSERT_GE(stream.size(), lzma86::kHeaderSize);
  EXPECT_EQ(stream[0], x86 ? 1 : 0);
  Bytes out;
  ASSERT_TRUE(SdkDecode86(stream, out));
  EXPECT_TRUE(out == data);
  // And back through the module itself.
  ASSERT_EQ(ModuleDecode(stream, out, data.size()), lzma86::kOk);
  EXPECT_TRUE(out == data);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, Interop,
                         ::testing::Combine(::testing::Values(Kind::Text, Kind::Random, Kind::X86,
                                                              Kind::Empty, Kind::Tiny),
                                            ::testing::Bool(), ::testing::Bool()));

TEST(Lzma86, FilterActuallyChangesX86Data) {
  // Guards the reference converter and the filter wiring: on call-heavy data
  // the converted bytes differ, and the filtered stream is the smaller one.
  Bytes data = X86LikeData(100000, 3);
  Bytes converted = data;
  X86Convert(converted, true);
  EXPECT_FALSE(converted == data);
  const Bytes plain = ModuleEncode(data, lzma86::kFilterNone);
  const Bytes filtered = ModuleEncode(data, lzma86::kFilterX86);
  EXPECT_LT(filtered.size(), plain.size());
  const Bytes chosen = ModuleEncode(data, lzma86::kFilterAuto);
  EXPECT_EQ(chosen[0], 1);
  EXPECT_EQ(chosen.size(), filtered.size());
}

TEST(Lzma86, UnknownSizeWithEndMarkerDecodes) {
  const Bytes data = TextData(50000);
  const Bytes stream = SdkEncode86(data, false, true, 5, /*unknownSize=*/true);
  Bytes out;
  ASSERT_EQ(ModuleDecode(stream, out, data.size() + 100), lzma86::kOk);
  EXPECT_TRUE(out == data);
}

TEST(Lzma86, SmallerBufferThanAnnouncedDecodesThePrefix) {
  const Bytes data = TextData(50000);
  const Bytes stream = SdkEncode86(data, false, false, 5);
  Bytes out;
  ASSERT_EQ(ModuleDecode(stream, out, 1000), lzma86::kOk);
  ASSERT_EQ(out.size(), 1000u);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
}

TEST(Lzma86, EarlyEndMarkerYieldsFewerBytes) {
  const Bytes data = TextData(4000);
  Bytes stream = SdkEncode86(data, false, true, 5);
  // Announce more than the stream holds: the end marker ends it early.
  stream[6] = uint8_t(data.size() + 500);
  stream[7] = uint8_t((data.size() + 500) >> 8);
  Bytes out;
  ASSERT_EQ(ModuleDecode(stream, out, data.size() + 500), lzma86::kOk);
  EXPECT_TRUE(out == data);
}

}  // namespace
}  // namespace udra::test

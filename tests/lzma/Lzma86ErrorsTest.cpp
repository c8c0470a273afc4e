// Result codes of the module on bad arguments and bad streams.
#include <gtest/gtest.h>

#include "Lzma86.h"
#include "SdkReference.h"
#include "TestData.h"
#include "codec/Lzma86Api.h"

namespace udra::test {
namespace {

int Decode(const Bytes& stream, size_t capacity) {
  Bytes out(capacity);
  size_t outLen = capacity, inLen = stream.size();
  return lzma86::Decode(out.data(), &outLen, stream.data(), &inLen);
}

TEST(Lzma86Errors, HeaderProblems) {
  const Bytes good = SdkEncode86(TextData(1000), false, false, 5);
  uint64_t size = 0;
  EXPECT_EQ(lzma86::GetUnpackSize(good.data(), 13, &size), lzma86::kErrorInputEof);
  EXPECT_EQ(Decode(Bytes(good.begin(), good.begin() + 13), 1000), lzma86::kErrorInputEof);

  Bytes badFilter = good;
  badFilter[0] = 2;
  EXPECT_EQ(Decode(badFilter, 1000), lzma86::kErrorUnsupported);

  Bytes badProps = good;
  badProps[1] = 225;
  EXPECT_EQ(Decode(badProps, 1000), lzma86::kErrorUnsupported);
}

TEST(Lzma86Errors, TruncatedAndCorruptStreams) {
  const Bytes data = RandomData(20000, 5);
  const Bytes good = SdkEncode86(data, false, false, 5);
  EXPECT_EQ(Decode(Bytes(good.begin(), good.begin() + good.size() / 2), data.size()),
            lzma86::kErrorInputEof);
  Bytes corrupt = good;
  corrupt[14] = 0x55;  // the range coder's first byte must be zero
  EXPECT_EQ(Decode(corrupt, data.size()), lzma86::kErrorData);
}

TEST(Lzma86Errors, HugeDictionaryInHeaderIsHarmless) {
  // The dictionary allocated follows the output buffer, not the header.
  const Bytes data = TextData(5000);
  Bytes stream = SdkEncode86(data, false, false, 5);
  for (int i = 2; i < 6; ++i) stream[i] = 0xFF;
  Bytes out(data.size());
  size_t outLen = out.size(), inLen = stream.size();
  ASSERT_EQ(lzma86::Decode(out.data(), &outLen, stream.data(), &inLen), lzma86::kOk);
  EXPECT_TRUE(out == data);
  EXPECT_EQ(inLen, stream.size());
}

TEST(Lzma86Errors, EncodeArguments) {
  const Bytes data = RandomData(10000, 1);
  Bytes out(100);
  size_t len = out.size();
  EXPECT_EQ(lzma86::Encode(out.data(), &len, data.data(), data.size(), 5, 0, 0),
            lzma86::kErrorOutputEof);
  len = 10;
  EXPECT_EQ(lzma86::Encode(out.data(), &len, data.data(), data.size(), 5, 0, 0),
            lzma86::kErrorOutputEof);
  len = out.size();
  EXPECT_EQ(lzma86::Encode(out.data(), &len, data.data(), data.size(), 10, 0, 0),
            lzma86::kErrorParam);
  EXPECT_EQ(lzma86::Encode(out.data(), &len, data.data(), data.size(), 5, 0, 3),
            lzma86::kErrorParam);
}

}  // namespace
}  // namespace udra::test

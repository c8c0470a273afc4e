// DecodeEntry: the whole path from a stored entry to decoded bytes, and every
// way it can fail.
#include <gtest/gtest.h>

#include <memory>

#include "CodecTestSupport.h"
#include "codec/StoredEntry.h"
#include "codec/Tea.h"

namespace udra::test {
namespace {

Bytes Text(size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = uint8_t("resource manager "[i % 17]);
  return b;
}

TEST(DecodeEntry, DecodesWithAndWithoutFilter) {
  UDRA_SKIP_WITHOUT_STAGED_CODEC();
  ASSERT_TRUE(StagedCodec().IsLoaded());
  for (int filter : {0, 1}) {
    const Bytes data = Text(100000);
    Bytes out;
    ASSERT_TRUE(Decode(StoredOf(data, filter), int32_t(data.size()), out));
    EXPECT_EQ(out, data);
  }
  Bytes out{1};
  ASSERT_TRUE(Decode(StoredOf({}), 0, out));
  EXPECT_TRUE(out.empty());
}

TEST(DecodeEntry, NullArgumentsChangeNothing) {
  UDRA_SKIP_WITHOUT_STAGED_CODEC();
  const Bytes entry = StoredOf(Text(10));
  char* out = reinterpret_cast<char*>(1);
  int32_t size = 77;
  EXPECT_FALSE(DecodeEntry(StagedCodec(), nullptr, 16, &out, &size));
  EXPECT_FALSE(DecodeEntry(StagedCodec(), entry.data(), 0, &out, &size));
  EXPECT_FALSE(DecodeEntry(StagedCodec(), entry.data(), uint32_t(entry.size()), nullptr, &size));
  EXPECT_FALSE(DecodeEntry(StagedCodec(), entry.data(), uint32_t(entry.size()), &out, nullptr));
  EXPECT_EQ(out, reinterpret_cast<char*>(1));
  EXPECT_EQ(size, 77);
}

TEST(DecodeEntry, BadFramesFail) {
  UDRA_SKIP_WITHOUT_STAGED_CODEC();
  const Bytes data = Text(1000);
  const Bytes entry = StoredOf(data);
  Bytes out;
  EXPECT_FALSE(Decode(Bytes(entry.begin(), entry.end() - 3), 1000, out));  // not a multiple of 8
  EXPECT_FALSE(Decode(Bytes(entry.begin(), entry.begin() + 8), 1000, out));  // below 16
  Bytes flipped = entry;
  flipped.back() ^= 0x40;  // garbles the last block: the trailer is no longer zero
  EXPECT_FALSE(Decode(flipped, 1000, out));
}

TEST(DecodeEntry, AnnouncedSizeAgainstTheCallersLimit) {
  UDRA_SKIP_WITHOUT_STAGED_CODEC();
  const Bytes data = Text(5000);
  const Bytes entry = StoredOf(data);
  Bytes out;
  EXPECT_FALSE(Decode(entry, 4999, out));
  EXPECT_FALSE(Decode(entry, -1, out));
  // A larger limit is fine: the caller compares the decoded size itself.
  ASSERT_TRUE(Decode(entry, 6000, out));
  EXPECT_EQ(out, data);
}

TEST(DecodeEntry, CorruptLzmaStreamFails) {
  UDRA_SKIP_WITHOUT_STAGED_CODEC();
  const Bytes data = Text(20000);
  Bytes stream = Lzma86Of(data);
  stream.resize(stream.size() / 2);  // truncated
  Bytes out;
  EXPECT_FALSE(Decode(BuildStoredEntry(EntryKey(), stream.data(), stream.size(), 1), 20000, out));
  stream = Lzma86Of(data);
  stream[14] = 0xFF;  // the range coder's first byte must be zero
  EXPECT_FALSE(Decode(BuildStoredEntry(EntryKey(), stream.data(), stream.size(), 2), 20000, out));
  stream = Lzma86Of(data);
  stream[0] = 7;  // unknown filter
  EXPECT_FALSE(Decode(BuildStoredEntry(EntryKey(), stream.data(), stream.size(), 3), 20000, out));
}

TEST(DecodeEntry, MissingModuleFails) {
  UDRA_SKIP_WITHOUT_STAGED_CODEC();
  const std::string empty = MakeTempFolder("nomodule");
  const LzmaCodec none = LzmaCodec::Bind(empty);
  EXPECT_FALSE(none.IsLoaded());
  Bytes out;
  EXPECT_FALSE(Decode(StoredOf(Text(100)), 100, out, none));
  EXPECT_FALSE(LzmaCodec::Bind("").IsLoaded());
  RemoveTree(empty);
}

// A module whose exports the test controls.
int g_decodeCalls = 0;
uint64_t g_announced = 0;
int FakeUnpackSize(const unsigned char*, size_t, uint64_t* size) {
  *size = g_announced;
  return 0;
}
int FakeDecode(unsigned char*, size_t* destLen, const unsigned char*, size_t*) {
  ++g_decodeCalls;
  *destLen = 0;
  return 0;
}

TEST(DecodeEntry, OversizeAnnouncementFailsBeforeDecoding) {
  UDRA_SKIP_WITHOUT_STAGED_CODEC();
  LzmaCodec fake;
  fake.getUnpackSize = &FakeUnpackSize;
  fake.decode = &FakeDecode;
  const Bytes entry = StoredOf(Text(100));
  Bytes out;
  g_decodeCalls = 0;
  g_announced = 101;
  EXPECT_FALSE(Decode(entry, 100, out, fake));
  // A size beyond 32 bits is not cut to its low bits (which would pass).
  g_announced = (uint64_t(1) << 32) + 5;
  EXPECT_FALSE(Decode(entry, 100, out, fake));
  EXPECT_EQ(g_decodeCalls, 0);
  // Fewer bytes than announced reach the caller, who checks the size.
  g_announced = 50;
  ASSERT_TRUE(Decode(entry, 100, out, fake));
  EXPECT_EQ(g_decodeCalls, 1);
  EXPECT_TRUE(out.empty());

  fake.decode = nullptr;  // export missing
  EXPECT_FALSE(Decode(entry, 100, out, fake));
  fake.getUnpackSize = nullptr;
  EXPECT_FALSE(Decode(entry, 100, out, fake));
}

TEST(DecodeEntry, ProcessCodecWithoutModuleBesideTheExecutable) {
  UDRA_SKIP_WITHOUT_STAGED_CODEC();
  // The test executable has no LZMA.DLL beside it: binding fails once, and
  // decoding fails cleanly.
  const LzmaCodec& codec = GetLzmaCodec();
  EXPECT_EQ(&codec, &GetLzmaCodec());
  if (!codec.IsLoaded()) {
    Bytes out;
    EXPECT_FALSE(Decode(StoredOf(Text(10)), 10, out, codec));
  }
}

}  // namespace
}  // namespace udra::test

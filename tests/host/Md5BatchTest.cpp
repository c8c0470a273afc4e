// Digests of many inputs at once, against the portable MD5 one at a time.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/Md5Batch.h"
#include "util/Md5.h"

namespace udra::host {
namespace {

std::string Hex(const uint8_t digest[16]) { return Md5::ToHex(digest); }

std::vector<uint8_t> Bytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  for (uint8_t& b : out) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return out;
}

// Lengths around every padding boundary, far more inputs than lanes and of
// very different lengths, so that lanes finish at different blocks and take
// over new inputs mid-way; then fewer inputs than lanes, one, and none.
TEST(Md5Batch, MatchesOneAtATimeForEveryLengthAndLaneCount) {
  std::vector<std::vector<uint8_t>> data;
  for (size_t size = 0; size <= 200; ++size) data.push_back(Bytes(size, static_cast<uint32_t>(size)));
  for (size_t size : {1000u, 16383u, 16384u, 16385u, 1u << 20})
    data.push_back(Bytes(size, static_cast<uint32_t>(size)));
  for (size_t count : {data.size(), size_t{3}, size_t{1}, size_t{0}}) {
    SCOPED_TRACE(count);
    std::vector<Md5Input> inputs;
    for (size_t i = 0; i < count; ++i)
      inputs.push_back({data[data.size() - 1 - i].data(), data[data.size() - 1 - i].size()});
    std::vector<uint8_t[16]> lanes(count), single(count);
    Md5Digests(inputs.data(), count, lanes.data());
    Md5Digests(inputs.data(), count, single.data(), false);
    for (size_t i = 0; i < count; ++i) {
      const std::string expected = Md5::HexDigest(inputs[i].data, inputs[i].size);
      EXPECT_EQ(Hex(lanes[i]), expected) << "size " << inputs[i].size;
      EXPECT_EQ(Hex(single[i]), expected) << "size " << inputs[i].size;
    }
  }
}

TEST(Md5Batch, KnownDigests) {
  const Md5Input inputs[] = {{"", 0}, {"abc", 3}, {"message digest", 14}};
  uint8_t digests[3][16];
  Md5Digests(inputs, 3, digests);
  EXPECT_EQ(Hex(digests[0]), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(Hex(digests[1]), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(Hex(digests[2]), "F96B697D7CB7938D525A2F31AAF161D0");
}

}  // namespace
}  // namespace udra::host

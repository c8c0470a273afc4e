// Loading the catalogue from a file: the same catalogue, digest and failures
// as from the same bytes in memory.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "resources/FileList.h"
#include "tests/support/TempDir.h"
#include "util/Md5.h"

namespace udra {
namespace {

using Entry = std::tuple<std::string, int32_t, int32_t, std::string, std::string, std::string, std::string>;

std::vector<Entry> Entries(const FileList& list) {
  std::vector<Entry> out;
  list.ForEach([&out](const FileListEntry& e) {
    out.emplace_back(std::string(e.name), e.size, e.packedSize, std::string(e.digest), std::string(e.packedDigest),
                     std::string(e.urlFolder), std::string(e.packageName));
  });
  return out;
}

// Lines in random order, of `width` bytes or so, with CRLF and runs of blank
// lines.
std::string Catalogue(size_t bytes, size_t width, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string text;
  while (text.size() < bytes) {
    std::string name = "Dir" + std::to_string(rng() % 50) + "\\f" + std::to_string(rng());
    name += std::string(rng() % width, 'x');
    text += name + "|" + std::to_string(rng() % 1000) + "|7|ABCD|EF01|u\\v|" + (rng() % 3 ? ":" : "p.pack");
    text += rng() % 4 ? "\r\n" : "\n\n\n";
  }
  return text;
}

// Files of several MiB, with lines of one length and with short lines first
// and long ones after (and the reverse), load as their bytes do, holding no
// more memory.
TEST(FileListLoad, FileInPiecesEqualsTheBuffer) {
  test::TempDir dir;
  const std::vector<std::string> texts = {
      Catalogue(3500000, 40, 1),
      Catalogue(1200000, 2, 2) + Catalogue(2500000, 200, 3),  // short lines first
      Catalogue(1100000, 300, 4) + Catalogue(2000000, 2, 5),  // long lines first
      "a|1\nb|2",                                             // no final line break
  };
  for (size_t i = 0; i < texts.size(); ++i) {
    dir.Write("FileList.dat", texts[i]);
    FileList fromFile, fromBuffer;
    ASSERT_TRUE(fromFile.load(dir / "FileList.dat")) << i;
    ASSERT_TRUE(fromBuffer.LoadFromBuffer(texts[i])) << i;
    EXPECT_EQ(Entries(fromFile), Entries(fromBuffer)) << i;
    EXPECT_EQ(fromFile.fileListDigest(), Md5::HexDigest(texts[i].data(), texts[i].size())) << i;
    // No more than a sliver above the exact room.
    EXPECT_LE(fromFile.memoryBytes(), fromBuffer.memoryBytes() + fromBuffer.memoryBytes() / 50 + 4096) << i;
  }
}

// A line that does not parse (blank after trimming, or holding a zero byte)
// far into the file: the lines before it stay, the digest is of the whole file.
TEST(FileListLoad, BadLineInALaterPieceKeepsTheLinesBefore) {
  test::TempDir dir;
  const std::string before = Catalogue(2300000, 30, 6);
  const std::string after = "zzz|1\n";
  for (const std::string& bad : {std::string(" \\ /\t\n"), std::string("nul\0here|1\n", 11)}) {
    const std::string text = before + bad + after;
    dir.Write("FileList.dat", text);
    FileList fromFile, fromBuffer;
    EXPECT_FALSE(fromFile.load(dir / "FileList.dat"));
    EXPECT_FALSE(fromBuffer.LoadFromBuffer(text));
    EXPECT_EQ(Entries(fromFile), Entries(fromBuffer));
    EXPECT_GT(fromFile.entryCount(), 1000u);
    EXPECT_FALSE(fromFile.contains("zzz"));
    EXPECT_EQ(fromFile.fileListDigest(), Md5::HexDigest(text.data(), text.size()));
  }
}

TEST(FileListLoad, EmptyMissingAndFolder) {
  test::TempDir dir;
  dir.Write("empty.dat", "");
  FileList list;
  EXPECT_TRUE(list.load(dir / "empty.dat"));
  EXPECT_EQ(list.entryCount(), 0u);
  EXPECT_EQ(list.fileListDigest(), "D41D8CD98F00B204E9800998ECF8427E");
  ASSERT_TRUE(list.LoadFromBuffer("a|1\n"));
  EXPECT_FALSE(list.load(dir / "missing.dat"));
  EXPECT_EQ(list.entryCount(), 0u);
  EXPECT_EQ(list.fileListDigest(), "");
  EXPECT_FALSE(list.load(dir.path()));
  EXPECT_EQ(list.entryCount(), 0u);
}

}  // namespace
}  // namespace udra

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "resources/FileList.h"
#include "resources/KeyOrder.h"
#include "resources/PathRules.h"
#include "util/Md5.h"

namespace udra {
namespace {

using Keys = std::vector<std::string>;

Keys Below(const FileList& list, const std::string& folder, bool filesOnly = false) {
  Keys keys;
  if (filesOnly) {
    list.filesBelow(folder, keys);
  } else {
    list.entriesBelow(folder, keys);
  }
  return keys;
}

TEST(KeyOrder, FoldsCaseAndPutsBackslashLowest) {
  EXPECT_TRUE(KeyEqual("Data\\A.MAP", "data\\a.map"));
  EXPECT_FALSE(KeyLess("ABC", "abc"));
  EXPECT_FALSE(KeyLess("abc", "ABC"));
  EXPECT_TRUE(KeyLess("A", "A\\b.txt"));
  EXPECT_TRUE(KeyLess("A\\c\\d", "A-x"));
  EXPECT_TRUE(KeyLess("A\\zzz", "A!"));
  EXPECT_TRUE(KeyLess("\xD6\xD0", "a"));  // GBK bytes sort before ASCII
  EXPECT_TRUE(KeyLess("[", "Z"));          // 'Z' compares as 'z', above '['
}

TEST(FileList, LooksUpWithEverySpelling) {
  FileList list;
  ASSERT_TRUE(list.LoadFromBuffer("Data\\Maps\\a.map|10|7|d|pd|maps\n"));
  for (const char* spelling : {"data\\maps\\A.MAP", "Data/Maps//a.map", "\\Data\\Maps\\a.map\\",
                               "\"Data\\Maps\\a.map\"", "'data/maps/a.map'"}) {
    int32_t size = 0;
    EXPECT_TRUE(list.size(NormalizePath(spelling).view(), size)) << spelling;
    EXPECT_EQ(size, 10) << spelling;
  }
  EXPECT_FALSE(list.contains("Data\\Maps\\b.map"));
}

TEST(FileList, ParsesEveryColumn) {
  FileList list;
  ASSERT_TRUE(list.LoadFromBuffer(
      "p\\f.txt | 12 | -3 | 0123 | 4567 | srv\\dir | ignored | Pkg.pack\n"
      "q.txt|1|2|d|pd|u|:\n"
      "r.txt||5|||\n"
      "s.txt|4294967297|99999999999999999999999\n"
      "t.txt|  +42abc| x\n"));
  FileListEntry e;
  ASSERT_TRUE(list.find("p\\f.txt", e));
  EXPECT_EQ(e.size, 12);
  EXPECT_EQ(e.packedSize, -3);
  EXPECT_EQ(e.digest, "0123");
  EXPECT_EQ(e.packedDigest, "4567");
  EXPECT_EQ(e.urlFolder, "srv\\dir");
  EXPECT_EQ(e.packageName, "Pkg.pack");  // the last later column wins
  EXPECT_EQ(list.packageName("q.txt"), "");
  EXPECT_FALSE(list.inPackage("q.txt"));
  ASSERT_TRUE(list.find("r.txt", e));  // empty columns cannot be written: 5 moves to size
  EXPECT_EQ(e.size, 5);
  EXPECT_EQ(e.packedSize, 0);
  ASSERT_TRUE(list.find("s.txt", e));
  EXPECT_EQ(e.size, 1);  // low 32 bits
  ASSERT_TRUE(list.find("t.txt", e));
  EXPECT_EQ(e.size, 42);
  EXPECT_EQ(e.packedSize, 0);
}

TEST(FileList, FirstLineOfAKeyWins) {
  FileList list;
  ASSERT_TRUE(list.LoadFromBuffer("b|2\nA|1\na|3\nB|4\n"));
  EXPECT_EQ(list.entryCount(), 2u);
  int32_t size = 0;
  EXPECT_TRUE(list.size("a", size));
  EXPECT_EQ(size, 1);
  EXPECT_TRUE(list.size("b", size));
  EXPECT_EQ(size, 2);
}

TEST(FileList, LineBreaksAndBadLines) {
  FileList list;
  EXPECT_TRUE(list.LoadFromBuffer("a|1\r\nb|2\r\n\n\nc|3"));  // CR LF, runs, no final newline
  EXPECT_EQ(list.entryCount(), 3u);
  EXPECT_TRUE(list.LoadFromBuffer(""));
  EXPECT_TRUE(list.LoadFromBuffer("\n\n\n"));
  EXPECT_EQ(list.entryCount(), 0u);

  EXPECT_FALSE(list.LoadFromBuffer("a|1\n   \nb|2\n"));  // a line of blanks fails, keeping earlier lines
  EXPECT_TRUE(list.contains("a"));
  EXPECT_FALSE(list.contains("b"));
  EXPECT_FALSE(list.LoadFromBuffer("a|1\r\n\r\nb|2\r\n"));  // a CR-only line trims to nothing
  EXPECT_FALSE(list.LoadFromBuffer("/\\ \t\n"));

  EXPECT_FALSE(list.LoadFromBuffer(std::string("a|1\nb\0c|2\nd|3\n", 14)));  // zero byte
  EXPECT_TRUE(list.contains("a"));
  EXPECT_FALSE(list.contains("b"));
  EXPECT_FALSE(list.contains("d"));
}

TEST(FileList, LongLinesAndLongKeys) {
  FileList list;
  const std::string longName(100 * 1024, 'n');
  const std::string key255(255, 'k');
  ASSERT_TRUE(list.LoadFromBuffer(longName + "|1\n" + key255 + "|2\nz|3|4|" + std::string(100000, 'd') + "\n"));
  EXPECT_FALSE(list.contains(longName));  // kept out: no lookup can name it
  EXPECT_TRUE(list.contains(key255));
  EXPECT_TRUE(list.contains("z"));
  EXPECT_EQ(list.entryCount(), 2u);
}

TEST(FileList, DigestOfRawBytes) {
  FileList list;
  const std::string bytes = "a|1\r\nb|2";
  list.LoadFromBuffer(bytes);
  EXPECT_EQ(list.fileListDigest(), Md5::HexDigest(bytes.data(), bytes.size()));
  EXPECT_FALSE(list.load("/nonexistent/FileList.dat"));
}

TEST(FileList, FolderWalkOrderAndCase) {
  FileList list;
  ASSERT_TRUE(list.LoadFromBuffer("A-x|1\nA\\c\\d|2\nA|-1\nA\\b.txt|3\nA\\c|-1\n"));
  EXPECT_EQ(Below(list, "A"), (Keys{"A\\b.txt", "A\\c", "A\\c\\d"}));
  EXPECT_EQ(Below(list, "A", true), (Keys{"A\\b.txt", "A\\c\\d"}));
  EXPECT_EQ(Below(list, "a"), Keys{});      // the walk is case-sensitive on the folder
  EXPECT_EQ(Below(list, "/A/"), Below(list, "A"));
  EXPECT_EQ(Below(list, "A\\c"), Keys{"A\\c\\d"});
  EXPECT_EQ(Below(list, "missing"), Keys{});
  EXPECT_TRUE(list.isFolder("a"));
  EXPECT_FALSE(list.isFolder("A-x"));
}

TEST(FileList, PackedTotalCountsAPackageOnce) {
  FileList list;
  ASSERT_TRUE(list.LoadFromBuffer(
      "F|-1|1000\n"
      "F\\a|1|100|d|pd|u|F.pack\n"
      "F\\b|1|200|d|pd|u|F.pack\n"
      "F\\c|1|300|d|pd|u|F.pack\n"
      "F\\d|1|7\n"
      "F\\sub|-1|50\n"));
  EXPECT_EQ(list.packedTotal("F"), 107);
  EXPECT_EQ(list.packedTotal("f"), 0);
}

TEST(FileList, DownloadPathAndEncodedUrl) {
  FileList list;
  ASSERT_TRUE(list.LoadFromBuffer(
      "Data\\a b.txt|1|1|d|pd|res\\v1\n"
      "Data\\p\\x.txt|1|1|d|pd|res|Data\\p.pack\n"
      "top.txt|1|1\n"));
  std::string path;
  ASSERT_TRUE(list.downloadPath("data\\A B.txt", path));
  EXPECT_EQ(path, "res/v1/data/A B.txt");  // the caller's key
  ASSERT_TRUE(list.downloadPath("Data\\p\\x.txt", path));
  EXPECT_EQ(path, "res/Data/p.pack");
  ASSERT_TRUE(list.downloadPath("top.txt", path));
  EXPECT_EQ(path, "top.txt");
  EXPECT_FALSE(list.downloadPath("none", path));

  EXPECT_EQ(list.EncodedUrl("http://h:80/root", "Data\\a b.txt"), "http://h:80/root/res/v1/Data/a%20b.txt");
  EXPECT_EQ(list.EncodedUrl("http://h/", "top.txt"), "http://h/top.txt");
  EXPECT_EQ(list.EncodedUrl("", "top.txt"), "top.txt");
  EXPECT_EQ(list.EncodedUrl("http://h", "none"), "");
}

// Names the code page cannot convert, and GBK names whose second byte is 0x5C.
TEST(FileList, UrlsOfUnusualNames) {
  FileList list;
  ASSERT_TRUE(list.LoadFromBuffer(
      "Data\\bad\xFFname.txt|1|1|d|pd|v1\n"
      "Data\\\xD7\xCA\xFF.txt|1|1|d|pd|v1\n"
      "Data\\\x95\x5C.txt|1|1|d|pd|v1\n"));
  // The byte that does not convert goes out percent-encoded as itself; the
  // rest is converted as usual (\xD7\xCA is U+8D44).
  EXPECT_EQ(list.EncodedUrl("http://h", "Data\\bad\xFFname.txt"), "http://h/v1/Data/bad%FFname.txt");
  EXPECT_EQ(list.EncodedUrl("http://h", "Data\\\xD7\xCA\xFF.txt"), "http://h/v1/Data/%E8%B5%84%FF.txt");
  // 0x95 0x5C is one character (U+661E in GBK): its second byte is no separator.
  std::string path;
  ASSERT_TRUE(list.downloadPath("Data\\\x95\x5C.txt", path));
  EXPECT_EQ(path, "v1/Data/\x95\x5C.txt");
  EXPECT_EQ(list.EncodedUrl("http://h", "Data\\\x95\x5C.txt"), "http://h/v1/Data/%E6%98%9E.txt");
}

TEST(FileList, GbkNamesConvertToUtf8InUrls) {
  FileList list;
  ASSERT_TRUE(list.LoadFromBuffer("\xD6\xD0.txt|1|1\n"));  // GBK for U+4E2D
  EXPECT_EQ(list.EncodedUrl("http://h/", "\xD6\xD0.txt"), "http://h/%E4%B8%AD.txt");
}

// Entries in key order as (key, size), the sizes telling duplicate lines apart.
std::vector<std::pair<std::string, int32_t>> InOrder(const FileList& list) {
  std::vector<std::pair<std::string, int32_t>> out;
  list.ForEach([&out](const FileListEntry& e) { out.emplace_back(std::string(e.name), e.size); });
  return out;
}

std::string Lines(const std::vector<std::string>& keys) {
  std::string text;
  for (size_t i = 0; i < keys.size(); ++i) text += keys[i] + "|" + std::to_string(i) + "\n";
  return text;
}

// The catalogue as the load must build it: keys in key order, the first line
// of equal keys (up to letter case) kept.
std::vector<std::pair<std::string, int32_t>> Reference(const std::vector<std::string>& keys) {
  std::vector<std::pair<std::string, int32_t>> lines;
  for (size_t i = 0; i < keys.size(); ++i) lines.emplace_back(keys[i], int32_t(i));
  std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return KeyLess(a.first, b.first); });
  lines.erase(std::unique(lines.begin(), lines.end(),
                          [](const auto& a, const auto& b) { return KeyEqual(a.first, b.first); }),
              lines.end());
  return lines;
}

TEST(KeyOrder, ByteRanksFollowTheKeyOrder) {
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      const std::string x(1, char(a)), y(1, char(b));
      ASSERT_EQ(kKeyByteRank[a] < kKeyByteRank[b], KeyLess(x, y)) << a << " " << b;
    }
    EXPECT_NE(kKeyByteRank[a], 0);
  }
}

// Keys that share long prefixes, differ only in letter case, end exactly at
// or just past a multiple of 16 bytes, are prefixes of each other, hold GBK
// bytes and backslashes: in any line order, the load gives the order,
// duplicates and lookups of the reference.
TEST(FileList, AnyLineOrderGivesTheSameCatalogue) {
  std::mt19937 rng(1234);
  const std::string alphabet = std::string("aAbB\\-_0z") + "\xB0\xD6\x80";
  for (int round = 0; round < 40; ++round) {
    std::vector<std::string> keys;
    const int prefixLength = int(rng() % 3) * 16 - int(rng() % 2);
    const std::string prefix(size_t(std::max(prefixLength, 0)), 'P');
    for (int i = 0; i < 300; ++i) {
      std::string key = prefix;
      const size_t length = 1 + rng() % 40;
      for (size_t j = 0; j < length; ++j) key += alphabet[rng() % alphabet.size()];
      while (!key.empty() && (key.back() == '\\' || key.front() == '\\')) key.pop_back();
      if (key.empty() || key.front() == '\\') continue;
      keys.push_back(key);
      if (rng() % 4 == 0) {  // the same key again, in another letter case
        std::string again = key;
        for (char& c : again) c = (c >= 'a' && c <= 'z') ? char(c - 32) : (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
        keys.push_back(again);
      }
    }
    std::shuffle(keys.begin(), keys.end(), rng);
    FileList list;
    ASSERT_TRUE(list.LoadFromBuffer(Lines(keys)));
    const auto expected = Reference(keys);
    ASSERT_EQ(InOrder(list), expected) << "round " << round;
    for (const auto& [key, size] : expected) {
      int32_t found = -2;
      ASSERT_TRUE(list.size(key, found));
      EXPECT_EQ(found, size);
    }
    // The same lines sorted load to the same catalogue without a sort.
    std::vector<std::string> sorted;
    for (const auto& e : expected) sorted.push_back(e.first);
    FileList inOrder;
    ASSERT_TRUE(inOrder.LoadFromBuffer(Lines(sorted)));
    std::vector<std::string> a, b;
    list.ForEach([&a](const FileListEntry& e) { a.emplace_back(e.name); });
    inOrder.ForEach([&b](const FileListEntry& e) { b.emplace_back(e.name); });
    EXPECT_EQ(a, b);
  }
}

TEST(FileList, ShuffledFoldersWalkAsSorted) {
  const std::string text =
      "A-x|4\nA\\c\\d|3\nA|-1\nA\\b.txt|1\nA\\c|-1\n"
      "0123456789abcdef\\x|5\n0123456789ABCDEF|-1\n0123456789abcdef0|6\n0123456789abcdeF|7\n";
  FileList list;
  ASSERT_TRUE(list.LoadFromBuffer(text));
  EXPECT_EQ(Below(list, "A"), (Keys{"A\\b.txt", "A\\c", "A\\c\\d"}));
  EXPECT_EQ(Below(list, "A", true), (Keys{"A\\b.txt", "A\\c\\d"}));
  // A key of exactly 16 bytes, its duplicate in another case, one byte more,
  // and a key below it.
  // (The walk matches the keys below byte for byte as the caller spells it.)
  EXPECT_EQ(Below(list, "0123456789abcdef"), (Keys{"0123456789abcdef\\x"}));
  EXPECT_EQ(Below(list, "0123456789ABCDEF"), Keys{});
  EXPECT_EQ(list.entryCount(), 8u);
  int32_t size = 0;
  EXPECT_TRUE(list.size("0123456789abcdef", size));
  EXPECT_EQ(size, -1);
  EXPECT_TRUE(list.size("0123456789ABCDEF0", size));
  EXPECT_EQ(size, 6);
}

TEST(FileList, BadLineAfterShuffledLinesKeepsTheLinesBefore) {
  const std::string text = "c|1\nb|2\nB|3\na|4\n  \nd|5\n";
  FileList list;
  EXPECT_FALSE(list.LoadFromBuffer(text));
  EXPECT_EQ(InOrder(list), (std::vector<std::pair<std::string, int32_t>>{{"a", 4}, {"b", 2}, {"c", 1}}));
  EXPECT_FALSE(list.contains("d"));
  EXPECT_EQ(list.fileListDigest(), Md5::HexDigest(text.data(), text.size()));
}

}  // namespace
}  // namespace udra

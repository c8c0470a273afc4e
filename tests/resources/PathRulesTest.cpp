#include <gtest/gtest.h>

#include <string>

#include "resources/PathRules.h"

namespace udra {
namespace {

std::string Norm(const char* path) { return std::string(NormalizePath(path).view()); }

std::string Key(const std::string& path) {
  std::string_view key;
  if (!CatalogueKey(path, key)) return "<refused>";
  return std::string(key);
}

TEST(NormalizePath, UnifiesAndCollapsesSeparators) {
  EXPECT_EQ(Norm("Data/Maps//a.map"), "Data\\Maps\\a.map");
  EXPECT_EQ(Norm("Data\\/\\Maps\\\\\\a.map"), "Data\\Maps\\a.map");
  EXPECT_EQ(Norm("//a"), "\\a");
  EXPECT_EQ(Norm(nullptr), "");
}

TEST(NormalizePath, RemovesLeadingSpacesAndTrailingBlanks) {
  EXPECT_EQ(Norm("  a\\b \t\r\n\v\f"), "a\\b");
  EXPECT_EQ(Norm("\ta"), "\ta");  // only spaces are removed in front
}

TEST(NormalizePath, ResolvesDotAndDotDot) {
  EXPECT_EQ(Norm("a\\.\\.\\b"), "a\\b");
  EXPECT_EQ(Norm("a\\b\\..\\c"), "a\\c");
  EXPECT_EQ(Norm("x/a/b/../../c"), "x\\c");
  EXPECT_EQ(Norm("\\a\\..\\b"), "\\b");
}

TEST(NormalizePath, DotDotAboveTheRootStays) {
  EXPECT_EQ(Norm("a\\..\\b"), "a\\..\\b");
  EXPECT_EQ(Norm("a\\b\\..\\..\\c"), "a\\..\\c");
  EXPECT_EQ(Norm("..\\..\\x"), "..\\..\\x");
  EXPECT_EQ(Norm("\\..\\b"), "\\..\\b");
}

TEST(NormalizePath, StopsAt259Bytes) {
  const std::string longPath(300, 'x');
  const NormalPath normal = NormalizePath(longPath.c_str());
  EXPECT_EQ(normal.size(), 259u);
  EXPECT_EQ(normal.c_str()[259], '\0');
  // Dropped separators do not count towards the limit.
  const std::string slashes = std::string(100, '/') + std::string(258, 'y');
  EXPECT_EQ(NormalizePath(slashes.c_str()).size(), 259u);
}

TEST(CatalogueKey, TrimsSeparatorsBlanksAndQuotes) {
  EXPECT_EQ(Key("\\Data\\Maps\\a.map\\"), "Data\\Maps\\a.map");
  EXPECT_EQ(Key("\"Data\\a.map\""), "Data\\a.map");
  EXPECT_EQ(Key(" '/a b/' "), "a b");
  EXPECT_EQ(Key("\"\""), "");
}

TEST(CatalogueKey, RefusesPathsOf256BytesOrMore) {
  EXPECT_EQ(Key(std::string(255, 'k')), std::string(255, 'k'));
  EXPECT_EQ(Key(std::string(256, 'k')), "<refused>");
  // Never cut: a long quoted path does not become another key.
  EXPECT_EQ(Key("\"" + std::string(255, 'k') + "\""), "<refused>");
}

TEST(DigestToBytes, ReadsPairsAndStopsAtNonHex) {
  uint8_t bytes[16];
  DigestToBytes("000102030405060708090a0B0c0D0eFf", bytes);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(bytes[i], i);
  EXPECT_EQ(bytes[15], 0xFF);

  DigestToBytes("ABCDxz0102", bytes);
  EXPECT_EQ(bytes[0], 0xAB);
  EXPECT_EQ(bytes[1], 0xCD);
  for (int i = 2; i < 16; ++i) EXPECT_EQ(bytes[i], 0);

  DigestToBytes("123", bytes);  // the odd nibble is dropped
  EXPECT_EQ(bytes[0], 0x12);
  EXPECT_EQ(bytes[1], 0);
}

}  // namespace
}  // namespace udra

namespace udra {
namespace {

// A path whose normalised form does not fit the 259-byte buffer must not be
// cut into a shorter one that names another file.
TEST(NormalizePath, PathTooLongForTheBufferNamesNothing) {
  const std::string padded = "Data\\a.txt" + std::string(250, ' ') + "x";  // 261 bytes
  NormalPath p = NormalizePath(padded.c_str());
  EXPECT_TRUE(p.cut());
  EXPECT_GE(p.size(), kKeyLimit);
  EXPECT_EQ(Key(std::string(p.view())), "<refused>");

  std::string dots = "Data";
  while (dots.size() < 300) dots += "\\.";
  dots += "\\a.txt";
  EXPECT_TRUE(NormalizePath(dots.c_str()).cut());
  EXPECT_EQ(Key(Norm(dots.c_str())), "<refused>");

  // Exactly 259 bytes fit; separators that collapse take no room.
  const std::string full(259, 'a');
  EXPECT_FALSE(NormalizePath(full.c_str()).cut());
  EXPECT_EQ(Norm((std::string(258, 'a') + "\\\\\\\\").c_str()), std::string(258, 'a') + "\\");
  EXPECT_TRUE(NormalizePath((std::string(259, 'a') + "b").c_str()).cut());
  // Blanks that are trimmed after the copy still count against the buffer
  // only when they do not fit: 258 bytes with trailing spaces resolve.
  EXPECT_EQ(Norm(("Data\\a.txt" + std::string(240, ' ')).c_str()), "Data\\a.txt");
}

// GBK characters whose second byte is 0x5C (the backslash) stay whole: that
// byte is not a separator when normalising, resolving dots or trimming keys.
TEST(NormalizePath, TwoByteCharactersWithABackslashSecondByte) {
  const std::string ch = "\x95\x5C";  // one GBK character, second byte 0x5C
  EXPECT_EQ(Norm(("Dir" + ch + "/a.txt").c_str()), "Dir" + ch + "\\a.txt");
  EXPECT_EQ(Norm(("Dir" + ch + "\\\\a.txt").c_str()), "Dir" + ch + "\\a.txt");
  EXPECT_EQ(Norm(("Dir" + ch + "/x").c_str()), "Dir" + ch + "\\x");
  // "<ch>.\" and "<ch>..\" hold no "\.\" or "\..\".
  EXPECT_EQ(Norm(("a\\" + ch + ".\\b").c_str()), "a\\" + ch + ".\\b");
  EXPECT_EQ(Norm(("a\\b" + ch + "..\\c").c_str()), "a\\b" + ch + "..\\c");
  // ".." goes back to the real separator, not to the character's second byte.
  EXPECT_EQ(Norm(("x\\a" + ch + "b\\..\\c").c_str()), "x\\c");
  EXPECT_EQ(Key("\\Dir\\" + ch), "Dir\\" + ch);  // a key ending with the character keeps it
  EXPECT_EQ(Key("Dir\\" + ch + "\\"), "Dir\\" + ch);
  // A lead byte without a possible second byte is a byte of its own.
  EXPECT_EQ(Norm("a\x95/b"), "a\x95\\b");
  EXPECT_EQ(Norm("a\x95"), "a\x95");
}

}  // namespace
}  // namespace udra

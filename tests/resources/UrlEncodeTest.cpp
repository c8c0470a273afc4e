#include <gtest/gtest.h>

#include "resources/UrlEncode.h"

namespace udra {
namespace {

TEST(CURLEncode, ReservedSetIsFixed) {
  EXPECT_EQ(kUrlReservedChars, std::string("\"<>%\\^[]`+$,@:;/!#?=&"));
  EXPECT_EQ(kUrlReservedChars.size(), 21u);
}

TEST(CURLEncode, SegmentEscapesReservedAndOutOfRangeBytes) {
  CURLEncode e;
  EXPECT_EQ(e.EncodeSegment("a b.txt"), "a%20b.txt");
  EXPECT_EQ(e.EncodeSegment("x:y"), "x%3Ay");
  EXPECT_EQ(e.EncodeSegment("{|}~"), "%7B%7C%7D%7E");
  EXPECT_EQ(e.EncodeSegment("'()*-._Az09"), "'()*-._Az09");
  EXPECT_EQ(e.EncodeSegment("\xE4\xB8\xAD\n"), "%E4%B8%AD%0A");
}

TEST(CURLEncode, KeepsSchemeHostAndSeparators) {
  CURLEncode e;
  EXPECT_EQ(e.Encode("http://host:8080/a b/c:d.txt"), "http://host:8080/a%20b/c%3Ad.txt");
  EXPECT_EQ(e.Encode("http://host"), "http%3A//host");
  EXPECT_EQ(e.Encode("dir\\a b//c"), "dir\\a%20b//c");
  EXPECT_EQ(e.Encode("/lead"), "/lead");
  EXPECT_EQ(e.Encode(""), "");
}

}  // namespace
}  // namespace udra

// The INI rules every backend must give: the Windows profile functions'.
#include <gtest/gtest.h>

#include "platform/Profile.h"
#include "support/TempDir.h"

namespace udra::platform {
namespace {

class ProfileTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string file = dir / "a.ini";
};

TEST_F(ProfileTest, NamesAreCaseInsensitiveAndFirstMatchWins) {
  dir.Write("a.ini",
            "; comment\n[Main]\nKey = first \nkey=second\n[main]\nOther=x\n[Quoted]\nA=\"  spaced \"\nB='x'\nC=a;b\n");
  std::string value;
  ASSERT_TRUE(ReadProfileString(file, "MAIN", "KEY", value));
  EXPECT_EQ(value, "first");
  // Only the first [main] section is searched.
  EXPECT_FALSE(ReadProfileString(file, "main", "Other", value));
  ASSERT_TRUE(ReadProfileString(file, "Quoted", "A", value));
  EXPECT_EQ(value, "  spaced ");
  ASSERT_TRUE(ReadProfileString(file, "Quoted", "B", value));
  EXPECT_EQ(value, "x");
  ASSERT_TRUE(ReadProfileString(file, "Quoted", "C", value));
  EXPECT_EQ(value, "a;b");
}

TEST_F(ProfileTest, MissingKeyIsToldFromEmptyValue) {
  dir.Write("a.ini", "[S]\nEmpty=\n");
  std::string value = "unchanged";
  EXPECT_TRUE(ReadProfileString(file, "S", "Empty", value));
  EXPECT_EQ(value, "");
  EXPECT_FALSE(ReadProfileString(file, "S", "Absent", value));
  EXPECT_FALSE(ReadProfileString(file, "NoSection", "Empty", value));
  EXPECT_FALSE(ReadProfileString(dir / "none.ini", "S", "Empty", value));
}

TEST_F(ProfileTest, LongValuesAreCutToTheBuffer) {
  dir.Write("a.ini", "[S]\nK=" + std::string(400, 'v') + "\n");
  std::string value;
  ASSERT_TRUE(ReadProfileString(file, "S", "K", value, 260));
  EXPECT_EQ(value.size(), 259u);
  ASSERT_TRUE(ReadProfileString(file, "S", "K", value, 16));
  EXPECT_EQ(value, std::string(15, 'v'));
}

TEST_F(ProfileTest, IntegersStopAtTheFirstNonDigit) {
  dir.Write("a.ini", "[S]\nA=42abc\nB=-5\nC=+7\nD=x1\nE=\n");
  EXPECT_EQ(ReadProfileInt(file, "S", "A", 9), 42);
  EXPECT_EQ(ReadProfileInt(file, "S", "B", 9), -5);
  EXPECT_EQ(ReadProfileInt(file, "S", "C", 9), 7);
  EXPECT_EQ(ReadProfileInt(file, "S", "D", 9), 0);
  EXPECT_EQ(ReadProfileInt(file, "S", "E", 9), 9);
  EXPECT_EQ(ReadProfileInt(file, "S", "Missing", 9), 9);
}

TEST_F(ProfileTest, WritesKeepTheRestOfTheFile) {
  dir.Write("a.ini", "; keep me\n[One]\nA=1\n\n[Two]\nB=2\n");
  ASSERT_TRUE(WriteProfileString(file, "one", "a", "changed"));
  ASSERT_TRUE(WriteProfileString(file, "One", "New", "n"));
  ASSERT_TRUE(WriteProfileString(file, "Three", "C", "3"));
  std::string value;
  for (auto [section, key, expected] : {std::tuple{"One", "A", "changed"}, {"One", "New", "n"},
                                        {"Two", "B", "2"}, {"Three", "C", "3"}}) {
    ASSERT_TRUE(ReadProfileString(file, section, key, value)) << section << "/" << key;
    EXPECT_EQ(value, expected);
  }
  EXPECT_NE(dir.Read("a.ini").find("; keep me"), std::string::npos);
}

TEST_F(ProfileTest, WriteCreatesTheFile) {
  ASSERT_TRUE(WriteProfileString(file, "ZEPH", "LastReport", "3"));
  EXPECT_EQ(ReadProfileInt(file, "ZEPH", "LastReport", 0), 3);
}

}  // namespace
}  // namespace udra::platform

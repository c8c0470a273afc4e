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

TEST_F(ProfileTest, AProfileFileAnswersAsTheFunctionsDo) {
  dir.Write("a.ini", "top=ignored\n[Main]\nKey = first \nkey=second\nN=-12x\nQ='q'\n[main]\nOther=x\n[Empty]\nE=\n");
  const ProfileFile ini(file);
  std::string value;
  ASSERT_TRUE(ini.ReadString("MAIN", "KEY", value));
  EXPECT_EQ(value, "first");
  ASSERT_TRUE(ini.ReadString("Main", "Key", value, 4));
  EXPECT_EQ(value, "fir");
  ASSERT_TRUE(ini.ReadString("Main", "Q", value));
  EXPECT_EQ(value, "q");
  EXPECT_FALSE(ini.ReadString("main", "Other", value));  // only the first [main] counts
  EXPECT_FALSE(ini.ReadString("Main", "top", value));
  ASSERT_TRUE(ini.ReadString("Empty", "E", value));
  EXPECT_EQ(value, "");
  EXPECT_EQ(ini.ReadInt("Main", "N", 5), -12);
  EXPECT_EQ(ini.ReadInt("Main", "Absent", 5), 5);
  EXPECT_EQ(ini.ReadInt("Empty", "E", 5), 5);

  const ProfileFile none(dir / "none.ini");
  EXPECT_FALSE(none.ReadString("Main", "Key", value));
  EXPECT_EQ(none.ReadInt("Main", "N", 5), 5);
  EXPECT_TRUE(none.KeyNames("Main").empty());
}

TEST_F(ProfileTest, KeyNamesListTheFirstSectionsKeysInOrder) {
  dir.Write("a.ini", "[S]\nB=1\n A = 2\nC=\n[T]\nX=1\n[s]\nZ=9\n");
  const ProfileFile ini(file);
  EXPECT_EQ(ini.KeyNames("s"), (std::vector<std::string>{"B", "A", "C"}));
  EXPECT_EQ(ini.KeyNames("T"), (std::vector<std::string>{"X"}));
  EXPECT_TRUE(ini.KeyNames("Absent").empty());
  std::string value;
  for (const std::string& key : ini.KeyNames("S")) EXPECT_TRUE(ini.ReadString("S", key.c_str(), value)) << key;
}

TEST_F(ProfileTest, AProfileFileServesThousandsOfKeys) {
  std::string text = "[Index]\n";
  for (int i = 0; i < 5000; ++i) text += "Index" + std::to_string(i) + "=item" + std::to_string(i) + "\n";
  dir.Write("a.ini", text);
  const ProfileFile ini(file);
  EXPECT_EQ(ini.KeyNames("Index").size(), 5000u);
  std::string value;
  for (int i : {0, 4095, 4096, 4999}) {
    ASSERT_TRUE(ini.ReadString("Index", ("index" + std::to_string(i)).c_str(), value)) << i;
    EXPECT_EQ(value, "item" + std::to_string(i));
  }
}

}  // namespace
}  // namespace udra::platform

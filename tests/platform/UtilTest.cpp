#include <gtest/gtest.h>

#include <cstring>

#include "platform/FileSystem.h"
#include "util/Md5.h"
#include "util/Paths.h"

namespace udra {
namespace {

TEST(Md5Test, Rfc1321Suite) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "D174AB98D277D9F5A5611C2C9F419D9F"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"}};
  for (const auto& [text, digest] : cases) EXPECT_EQ(Md5::HexDigest(text, std::strlen(text)), digest) << text;
}

TEST(Md5Test, IncrementalUpdatesMatchOneShot) {
  std::string data(1000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7);
  for (size_t split : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 999u}) {
    Md5 md5;
    md5.Update(data.data(), split);
    md5.Update(data.data() + split, data.size() - split);
    uint8_t digest[16];
    md5.Final(digest);
    EXPECT_EQ(Md5::ToHex(digest), Md5::HexDigest(data.data(), data.size())) << split;
  }
}

TEST(PathsTest, JoinUsesExactlyOneSeparator) {
  const std::string s(1, platform::PathSeparator());
  EXPECT_EQ(JoinPath("dir", "name"), "dir" + s + "name");
  EXPECT_EQ(JoinPath("dir" + s, "name"), "dir" + s + "name");
  EXPECT_EQ(JoinPath("dir", s + "name"), "dir" + s + "name");
  EXPECT_EQ(JoinPath("dir" + s, s + "name"), "dir" + s + "name");
  EXPECT_EQ(JoinPath("", "name"), "name");
  EXPECT_EQ(JoinPath("dir", "a\\b"), "dir" + s + "a" + s + "b");
  EXPECT_EQ(ParentFolder("dir" + s + "f.txt"), "dir");
  EXPECT_EQ(FileNameOf("dir" + s + "f.txt"), "f.txt");
}

TEST(PathsTest, InstanceKeyIsTheDigestOfTheTrimmedLowerCaseFolder) {
  EXPECT_EQ(InstanceKeyOf("C:\\Games\\Demo"), Md5::HexDigest("c:\\games\\demo", 13));
  EXPECT_EQ(InstanceKeyOf("  \"C:\\Games\\Demo\\\" "), InstanceKeyOf("c:\\games\\demo"));
  EXPECT_EQ(InstanceKeyOf("/opt/Game/"), Md5::HexDigest("opt/game", 8));
  EXPECT_EQ(InstanceKeyOf("None"), Md5::HexDigest("none", 4));
  EXPECT_EQ(InstanceKeyOf("").size(), 32u);
}

TEST(PathsTest, ModuleFolderHoldsThisCode) {
  std::string folder;
  ASSERT_TRUE(ModuleFolder(folder));
  EXPECT_TRUE(platform::IsDirectory(folder));
  EXPECT_FALSE(platform::IsPathSeparator(folder.back()));
  EXPECT_EQ(JoinPath(folder, FileNameOf(ModulePath())), ModulePath());
  EXPECT_EQ(InstanceKey(), InstanceKeyOf(folder));
}

}  // namespace
}  // namespace udra

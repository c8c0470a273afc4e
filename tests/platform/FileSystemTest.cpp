#include <gtest/gtest.h>

#include <algorithm>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "support/TempDir.h"
#include "util/Paths.h"

namespace udra::platform {
namespace {

TEST(FileSystemTest, MakeDirectoriesCreatesEveryLevelAndRefusesWildcards) {
  test::TempDir dir;
  const std::string deep = JoinPath(dir.path(), "a\\b\\c");
  ASSERT_TRUE(MakeDirectories(deep));
  EXPECT_TRUE(IsDirectory(deep));
  EXPECT_TRUE(MakeDirectories(deep));  // already there
  for (const char* bad : {"x<y", "x>y", "x\"y", "x|y", "x*y", "x?y"}) {
    const std::string refused = JoinPath(dir.path(), std::string("n\\") + bad);
    EXPECT_FALSE(MakeDirectories(refused)) << bad;
    EXPECT_FALSE(FileExists(JoinPath(dir.path(), "n"))) << "nothing is created for " << bad;
  }
}

TEST(FileSystemTest, FindFilesMatchesPrefixAndSuffixAndSkipsFolders) {
  test::TempDir dir;
  dir.Write("lib.so1.log", "x");
  dir.Write("lib.so2.log", "x");
  dir.Write("other.log", "x");
  dir.Write("lib.so3.txt", "x");
  ASSERT_TRUE(MakeDirectories(dir / "lib.so4.log"));
  std::vector<FoundFile> found = FindFiles(dir.path(), "lib.so", ".log", 64);
  std::vector<std::string> names;
  for (const FoundFile& f : found) names.push_back(FileNameOf(f.path));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"lib.so1.log", "lib.so2.log"}));
  EXPECT_EQ(FindFiles(dir.path(), "lib.so", ".log", 1).size(), 1u);
  EXPECT_TRUE(FindFiles(dir / "absent", "", "", 64).empty());
}

TEST(FileSystemTest, WholeFilesAndAppendFile) {
  test::TempDir dir;
  const std::string path = dir / "f.bin";
  const std::string data("a\0b\r\n", 5);
  ASSERT_TRUE(WriteWholeFile(path, data.data(), data.size()));
  std::string read;
  ASSERT_TRUE(ReadWholeFile(path, read));
  EXPECT_EQ(read, data);
  EXPECT_FALSE(ReadWholeFile(dir / "absent", read));

  LogAppendFile log;
  ASSERT_TRUE(log.Create(path));  // replaces the file
  EXPECT_EQ(log.SeekToEnd(), 0);
  log.Write("one\n", 4);
  log.Write("two\n", 4);
  log.Close();
  EXPECT_EQ(dir.Read("f.bin"), "one\ntwo\n");
  EXPECT_TRUE(RemoveFile(path));
  EXPECT_FALSE(FileExists(path));
}

TEST(SystemTest, GuidTextHasRegistryForm) {
  const std::string guid = NewGuidText();
  ASSERT_EQ(guid.size(), 38u);
  EXPECT_EQ(guid.front(), '{');
  EXPECT_EQ(guid.back(), '}');
  for (size_t i : {9u, 14u, 19u, 24u}) EXPECT_EQ(guid[i], '-');
  for (char c : guid.substr(1, 36))
    EXPECT_TRUE(c == '-' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << guid;
  EXPECT_NE(guid, NewGuidText());
}

TEST(SystemTest, TickCountMovesForward) {
  const uint32_t start = TickCount();
  uint32_t now = start;
  for (int i = 0; i < 200 && now == start; ++i) {
    SleepMs(10);
    now = TickCount();
  }
  EXPECT_NE(now, start);
  EXPECT_LT(uint32_t(now - start), 0x80000000u);  // forward, not back
  EXPECT_NE(CurrentProcessId(), 0u);
  EXPECT_NE(CurrentThreadId(), 0u);
}

TEST(CodePageTest, GbkRoundTrip) {
  const std::string utf8 = "\xE8\xB5\x84\xE6\xBA\x90/a.txt";  // 资源/a.txt
  const std::string gbk = Utf8ToAnsi(utf8);
  // On Windows the ANSI code page is the system's; the bytes are checked on
  // the code page this build fixes (GBK) only when it is in force.
  if (gbk == "\xD7\xCA\xD4\xB4/a.txt" || PathSeparator() == '/') {
    EXPECT_EQ(gbk, "\xD7\xCA\xD4\xB4/a.txt");
  }
  EXPECT_EQ(AnsiToUtf8(gbk), utf8);
  EXPECT_EQ(AnsiToUtf8(""), "");
}

}  // namespace
}  // namespace udra::platform

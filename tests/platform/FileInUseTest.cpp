// Exclusive creation and the in-use mark of files kept open for appending,
// which the log clean-up of every process relies on.
#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "support/TempDir.h"

namespace udra::platform {
namespace {

TEST(FileInUseTest, CreateNewNeverReplacesAFile) {
  test::TempDir dir;
  const std::string path = dir / "a.log";
  dir.Write("a.log", "earlier");
  LogAppendFile file;
  EXPECT_EQ(file.CreateNew(path), CreateResult::kExists);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(dir.Read("a.log"), "earlier");

  const std::string fresh = dir / "b.log";
  ASSERT_EQ(file.CreateNew(fresh), CreateResult::kCreated);
  file.Write("x\n", 2);
  LogAppendFile second;
  EXPECT_EQ(second.CreateNew(fresh), CreateResult::kExists);  // also while the first holds it
  file.Close();
  EXPECT_EQ(dir.Read("b.log"), "x\n");
  EXPECT_EQ(second.CreateNew(dir / "absent-folder/c.log"), CreateResult::kFailed);
}

TEST(FileInUseTest, AnOpenFileIsNeitherReportedFreeNorRemoved) {
  test::TempDir dir;
  const std::string path = dir / "held.log";
  LogAppendFile file;
  ASSERT_EQ(file.CreateNew(path), CreateResult::kCreated);
  EXPECT_TRUE(IsFileInUse(path));
  EXPECT_FALSE(RemoveUnusedFile(path));
  EXPECT_TRUE(FileExists(path));
  file.Write("still here\n", 11);
  file.Close();

  EXPECT_EQ(dir.Read("held.log"), "still here\n");
  EXPECT_FALSE(IsFileInUse(path));
  EXPECT_TRUE(RemoveUnusedFile(path));
  EXPECT_FALSE(FileExists(path));
  EXPECT_FALSE(IsFileInUse(path));  // gone is not in use

  // A file written and closed by anyone else is free as well.
  dir.Write("plain.log", "x");
  EXPECT_FALSE(IsFileInUse(dir / "plain.log"));
}

TEST(FileInUseTest, OnlyRegularFilesCountAndAreRead) {
  test::TempDir dir;
  dir.Write("f.ini", "[S]\n");
  EXPECT_TRUE(IsRegularFile(dir / "f.ini"));
  EXPECT_FALSE(IsRegularFile(dir.path()));
  EXPECT_FALSE(IsRegularFile(dir / "absent"));
  std::string text;
  EXPECT_FALSE(ReadWholeFile(dir.path(), text));
}

}  // namespace
}  // namespace udra::platform

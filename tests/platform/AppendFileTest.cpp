#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/AppendFile.h"
#include "support/TempDir.h"
#include "util/Paths.h"

namespace udra::platform {
namespace {

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(AppendFileTest, ResumesAtTheEndKeepsTheOrderOfSmallAndLargeWritesAndTruncates) {
  test::TempDir dir;
  const std::string path = dir / "a.part";
  dir.Write("a.part", "head");
  auto file = AppendFile::Open(path);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->size(), 4);
  // Small writes wait in a buffer, a large one goes past it: their order
  // must survive either way.
  const std::string large(200000, 'L');
  ASSERT_TRUE(file->Write("ab", 2));
  ASSERT_TRUE(file->Write(large.data(), large.size()));
  ASSERT_TRUE(file->Write("cd", 2));
  EXPECT_EQ(file->size(), static_cast<int64_t>(4 + 2 + large.size() + 2));
  ASSERT_TRUE(file->Flush());
  file->StartWriteback(0, file->size());
  EXPECT_EQ(Contents(path), "headab" + large + "cd");

  ASSERT_TRUE(file->Truncate());
  EXPECT_EQ(file->size(), 0);
  ASSERT_TRUE(file->Write("new", 3));
  ASSERT_TRUE(file->Flush());
  file.reset();
  EXPECT_EQ(Contents(path), "new");

  auto again = AppendFile::Open(path);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->size(), 3);
}

TEST(AppendFileTest, CreatesAMissingFileAndRefusesAFolderOrAMissingParent) {
  test::TempDir dir;
  auto created = AppendFile::Open(dir / "new.part");
  ASSERT_TRUE(created);
  EXPECT_EQ(created->size(), 0);
  EXPECT_FALSE(AppendFile::Open(dir.path()));
  EXPECT_FALSE(AppendFile::Open(JoinPath(dir / "missing", "x.part")));
}

TEST(AppendFileTest, MakePrivateFolderCreatesOnceAndRefusesAFileOrAMissingParent) {
  test::TempDir dir;
  const std::string folder = dir / "HostTemp";
  EXPECT_TRUE(MakePrivateFolder(folder));
  EXPECT_TRUE(MakePrivateFolder(folder));  // already there
  ASSERT_TRUE(AppendFile::Open(JoinPath(folder, "x.part")));
  EXPECT_FALSE(MakePrivateFolder(JoinPath(folder, "x.part")));
  EXPECT_FALSE(MakePrivateFolder(JoinPath(dir / "missing", "deeper")));
}

}  // namespace
}  // namespace udra::platform

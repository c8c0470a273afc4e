// The file operations the store stands on, on each system's own terms:
// exclusive creation, reads past the end, copies, renames that must not
// replace, folder listings, file identities and non-ASCII (ANSI) paths.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "StoreTestUtil.h"
#include "components/store/ZavStore.h"
#include "platform/FileSystem.h"
#include "platform/RandomAccessFile.h"

namespace udra::store::test {
namespace {

using platform::FileError;
using platform::RandomAccessFile;

std::string Join(const std::string& folder, const std::string& name) {
  return folder + platform::PathSeparator() + name;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(StoreFileSystem, NewFilesAreExclusiveAndReadsStopAtTheEnd) {
  TempDir dir;
  const std::string path = Join(dir.path(), "entry");
  RandomAccessFile file;
  ASSERT_EQ(file.Open(path, RandomAccessFile::Mode::kCreateNew), FileError::kNone);
  ASSERT_EQ(file.Write("0123456789", 10), FileError::kNone);
  EXPECT_EQ(file.Sync(), FileError::kNone);
  file.Close();

  RandomAccessFile again;
  EXPECT_EQ(again.Open(path, RandomAccessFile::Mode::kCreateNew), FileError::kExists);
  EXPECT_EQ(ReadFile(path), "0123456789");  // the refused creation left it alone
  EXPECT_EQ(again.Open(Join(dir.path(), "absent"), RandomAccessFile::Mode::kRead), FileError::kNotFound);

  ASSERT_EQ(again.Open(path, RandomAccessFile::Mode::kRead), FileError::kNone);
  bool regular = false;
  uint64_t size = 0;
  ASSERT_TRUE(again.Describe(regular, size));
  EXPECT_TRUE(regular);
  EXPECT_EQ(size, 10u);
  char buffer[8] = {};
  EXPECT_EQ(again.ReadAt(buffer, 4, 6), FileError::kNone);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(again.ReadAt(buffer, 5, 6), FileError::kEnd);
  EXPECT_EQ(again.ReadAt(buffer, 1, 1ull << 33), FileError::kEnd);  // beyond 4 GiB
  // A reader does not keep the file from being renamed or removed.
  EXPECT_EQ(platform::RenameFile(path, path + ".moved"), FileError::kNone);
  EXPECT_TRUE(platform::RemoveFileIfPresent(path + ".moved"));
  EXPECT_TRUE(platform::RemoveFileIfPresent(path + ".moved"));  // already gone
}

TEST(StoreFileSystem, CopiesAreExactAndNoticeAShortSource) {
  TempDir dir;
  std::vector<uint8_t> bytes = MakeContent(7, 1, (5u << 20) / 2);  // across the copy's 1 MiB chunks
  const std::string source = Join(dir.path(), "source");
  WriteFile(source, std::string(bytes.begin(), bytes.end()));
  RandomAccessFile from;
  ASSERT_EQ(from.Open(source, RandomAccessFile::Mode::kRead), FileError::kNone);

  RandomAccessFile to;
  ASSERT_EQ(to.Open(Join(dir.path(), "copy"), RandomAccessFile::Mode::kCreateNew), FileError::kNone);
  ASSERT_EQ(to.AppendFrom(from, bytes.size()), FileError::kNone);
  to.Close();
  EXPECT_EQ(ReadFile(Join(dir.path(), "copy")), std::string(bytes.begin(), bytes.end()));

  RandomAccessFile longer;
  ASSERT_EQ(longer.Open(Join(dir.path(), "longer"), RandomAccessFile::Mode::kCreateNew), FileError::kNone);
  EXPECT_EQ(longer.AppendFrom(from, bytes.size() + 1), FileError::kEnd);
}

TEST(StoreFileSystem, RenamesReplaceOnlyWhenAsked) {
  TempDir dir;
  const std::string a = Join(dir.path(), "a");
  const std::string b = Join(dir.path(), "b");
  WriteFile(a, "first");
  WriteFile(b, "second");
  EXPECT_EQ(platform::RenameNoReplace(a, b), FileError::kExists);
  EXPECT_EQ(ReadFile(a), "first");
  EXPECT_EQ(ReadFile(b), "second");
  EXPECT_EQ(platform::RenameFile(a, b), FileError::kNone);
  EXPECT_EQ(ReadFile(b), "first");
  EXPECT_FALSE(std::filesystem::exists(a));
  EXPECT_EQ(platform::RenameNoReplace(b, a), FileError::kNone);
  EXPECT_EQ(ReadFile(a), "first");
  EXPECT_FALSE(std::filesystem::exists(b));
  EXPECT_EQ(platform::RenameFile(b, a), FileError::kNotFound);
}

TEST(StoreFileSystem, ListingsSizesAndIdentities) {
  TempDir dir;
  const std::string folder = Join(dir.path(), "list");
  std::vector<platform::FolderEntry> entries;
  EXPECT_EQ(platform::ListFolder(folder, entries), FileError::kNotFound);
  ASSERT_TRUE(platform::MakePrivateDirectories(Join(folder, "sub")));
  WriteFile(Join(folder, "three"), "abc");
  ASSERT_EQ(platform::ListFolder(folder, entries), FileError::kNone);
  ASSERT_EQ(entries.size(), 2u);
  for (const platform::FolderEntry& e : entries) {
    EXPECT_EQ(e.regular, e.name == "three") << e.name;
    EXPECT_EQ(e.size, e.name == "three" ? 3u : 0u) << e.name;
  }
  EXPECT_EQ(platform::RegularFileSize(Join(folder, "three")), 3);
  EXPECT_EQ(platform::RegularFileSize(Join(folder, "sub")), -1);
  EXPECT_EQ(platform::RegularFileSize(Join(folder, "absent")), -1);

  platform::FileIdentity first, same, replaced;
  ASSERT_TRUE(platform::IdentityOf(Join(folder, "three"), first));
  ASSERT_TRUE(platform::IdentityOf(Join(folder, "three"), same));
  EXPECT_EQ(first, same);
  WriteFile(Join(folder, "new"), "abc");
  ASSERT_EQ(platform::RenameFile(Join(folder, "new"), Join(folder, "three")), FileError::kNone);
  ASSERT_TRUE(platform::IdentityOf(Join(folder, "three"), replaced));
  EXPECT_NE(first, replaced);
  EXPECT_FALSE(platform::IdentityOf(Join(folder, "absent"), replaced));
}

TEST(StoreFileSystem, FoldersAndFreeSpaceBelowMissingPaths) {
  TempDir dir;
  // Trailing separators, and a name whose second byte is '\' in the ANSI
  // code page (a double-byte character, not a separator).
  const std::string deep = Join(Join(dir.path(), "a\x81\x5c" "b"), "c") + platform::PathSeparator();
  ASSERT_TRUE(platform::MakePrivateDirectories(deep));
  EXPECT_TRUE(platform::IsDirectory(deep));
  EXPECT_TRUE(platform::MakePrivateDirectories(deep));  // already there
  if (platform::PathSeparator() == '/') {
    const auto perms = std::filesystem::status(Join(dir.path(), "a\x81\x5c" "b")).permissions();
    EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
              std::filesystem::perms::none);
  }
  WriteFile(Join(dir.path(), "file"), "x");
  EXPECT_FALSE(platform::MakePrivateDirectories(Join(Join(dir.path(), "file"), "below")));

  EXPECT_GT(platform::FreeDiskBytes(dir.path()), 0);
  EXPECT_GT(platform::FreeDiskBytes(Join(Join(dir.path(), "missing"), "deeper")), 0);
}

// A store in a folder whose name is not ASCII: the system's ANSI text, which
// SQLite must be given in UTF-8 on Windows.
TEST(StoreFileSystem, StoreInANonAsciiFolder) {
  TempDir dir;
  const std::string folder = Join(dir.path(), "\xd3\xce\xcf\xb7") + platform::PathSeparator() + "UDRADownload";
  std::vector<uint8_t> small = MakeContent(1, 1, 1000);
  std::vector<uint8_t> large = MakeContent(2, 1, 3u << 20);
  {
    ZavStore zav;
    ASSERT_TRUE(zav.Create(folder.c_str(), kZavCreateNew, 1 << 20));
    ASSERT_TRUE(zav.PutEntry("small", small.data(), static_cast<uint32_t>(small.size())));
    ASSERT_TRUE(zav.PutEntry("large", large.data(), static_cast<uint32_t>(large.size())));
    EXPECT_TRUE(zav.Close());
  }
  EXPECT_TRUE(platform::RegularFileSize(Join(folder, "ZAV.db")) > 0);
  ZavStore zav;
  ASSERT_TRUE(zav.Load(folder.c_str()));
  EXPECT_EQ(zav.GetEntrySizeByName("small"), 1000);
  int32_t handle = zav.OpenEntry("large", 1, 0);
  ASSERT_GE(handle, 0);
  std::vector<uint8_t> back(large.size());
  uint32_t inout = static_cast<uint32_t>(back.size());
  ASSERT_TRUE(zav.ReadEntry(handle, back.data(), &inout));
  EXPECT_EQ(back, large);
}

}  // namespace
}  // namespace udra::store::test

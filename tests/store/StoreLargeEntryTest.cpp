// Large entries live in files of their own beside the database: they must
// read back exactly, follow replacement and removal, survive a lost or
// tampered file without taking the store down, and leave nothing behind.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "StoreTestUtil.h"
#include "components/store/EntryFiles.h"
#include "components/store/ZavStore.h"

namespace udra::store::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kLarge = kExternalMinSize;

class LargeEntries : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(zav_.Create(dir_.Store().c_str(), kZavCreateNew, 0)); }

  std::string Files() const { return dir_.Store() + "/ZAV.files"; }
  size_t FileCount() const {
    std::error_code ec;
    size_t n = 0;
    for (auto it = fs::directory_iterator(Files(), ec); !ec && it != fs::directory_iterator(); ++it) ++n;
    return n;
  }
  std::string OnlyFile() const { return fs::directory_iterator(Files())->path().string(); }

  bool Put(const char* name, const std::vector<uint8_t>& data) {
    return zav_.PutEntry(name, data.data(), static_cast<uint32_t>(data.size()));
  }
  std::string WriteSource(const std::string& fileName, const std::vector<uint8_t>& data) const {
    const std::string path = dir_.path() + "/" + fileName;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
    return path;
  }
  // The whole entry through ReadEntry, and again in pieces through
  // ReadEntryAt; empty when either fails or they disagree.
  std::vector<uint8_t> ReadBack(const char* name) {
    int32_t handle = zav_.OpenEntry(name, 1, 0);
    if (handle < 0) return {};
    std::vector<uint8_t> whole(static_cast<size_t>(zav_.GetEntrySize(handle)));
    uint32_t n = static_cast<uint32_t>(whole.size());
    if (!zav_.ReadEntry(handle, whole.data(), &n) || n != whole.size()) return {};
    std::vector<uint8_t> pieces;
    uint8_t chunk[100000];
    for (uint32_t offset = 0;; offset += n) {
      n = sizeof chunk;
      if (!zav_.ReadEntryAt(handle, offset, chunk, &n)) return {};
      if (n == 0) break;
      pieces.insert(pieces.end(), chunk, chunk + n);
    }
    return pieces == whole ? whole : std::vector<uint8_t>();
  }
  void RunSql(const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir_.Database().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }

  TempDir dir_;
  ZavStore zav_;
};

TEST_F(LargeEntries, EveryWayInReadsBackWhole) {
  const auto a = MakeContent(1, 1, kLarge);
  const auto b = MakeContent(2, 1, 3 * kLarge + 17);
  const auto c = MakeContent(3, 1, 2 * kLarge);
  const auto d = MakeContent(4, 1, 2 * kLarge + 5);
  const auto small = MakeContent(5, 1, 4000);
  ASSERT_TRUE(Put("a", a));
  ZavEntryData batch[] = {{"b", b.data(), static_cast<uint32_t>(b.size())},
                          {"small", small.data(), static_cast<uint32_t>(small.size())}};
  ASSERT_TRUE(zav_.PutEntries(batch, 2));
  const std::string copied = WriteSource("c.bin", c);
  ASSERT_TRUE(zav_.PutEntryFromFile("c", copied.c_str()));
  EXPECT_TRUE(fs::exists(copied));  // a copy: the caller's file stays
  const std::string moved = WriteSource("d.bin", d);
  ASSERT_TRUE(zav_.MoveEntryFromFile("d", moved.c_str()));
  EXPECT_FALSE(fs::exists(moved));  // taken over
  const std::string movedSmall = WriteSource("s.bin", small);
  ASSERT_TRUE(zav_.MoveEntryFromFile("s", movedSmall.c_str()));
  EXPECT_FALSE(fs::exists(movedSmall));

  EXPECT_EQ(FileCount(), 4u);  // the small entries stay in the database
  EXPECT_EQ(ReadBack("a"), a);
  EXPECT_EQ(ReadBack("B"), b);
  EXPECT_EQ(ReadBack("c"), c);
  EXPECT_EQ(ReadBack("d"), d);
  EXPECT_EQ(ReadBack("s"), small);
  EXPECT_EQ(zav_.GetEntryCount(), 6);
  zav_.Close();
  ASSERT_TRUE(zav_.Load(dir_.Store().c_str()));  // nothing of a live store is swept away
  EXPECT_EQ(FileCount(), 4u);
  EXPECT_EQ(ReadBack("d"), d);
}

TEST_F(LargeEntries, ReplacingAndRemovingLeaveOnlyTheLiveEntriesFiles) {
  ASSERT_TRUE(Put("x", MakeContent(1, 1, kLarge)));
  const int32_t oldHandle = zav_.OpenEntry("x", 1, 0);
  ASSERT_GE(oldHandle, 0);
  // Same size, new bytes: the old handle must not read the new entry.
  const auto second = MakeContent(1, 2, kLarge);
  ASSERT_TRUE(Put("x", second));
  EXPECT_EQ(FileCount(), 1u);
  std::vector<uint8_t> buffer(kLarge);
  uint32_t n = kLarge;
  EXPECT_FALSE(zav_.ReadEntry(oldHandle, buffer.data(), &n));
  EXPECT_EQ(zav_.GetErrorCode(kZavLastError), kZavErrChanged);
  EXPECT_EQ(ReadBack("x"), second);

  ASSERT_TRUE(Put("x", MakeContent(1, 3, 100)));  // large to small
  EXPECT_EQ(FileCount(), 0u);
  ASSERT_TRUE(Put("x", MakeContent(1, 4, kLarge + 1)));  // and back
  const auto twice = MakeContent(1, 5, kLarge + 2);
  ZavEntryData batch[] = {{"x", buffer.data(), kLarge}, {"x", twice.data(), kLarge + 2}};
  ASSERT_TRUE(zav_.PutEntries(batch, 2));  // a name given twice keeps the later entry
  EXPECT_EQ(FileCount(), 1u);
  EXPECT_EQ(ReadBack("x"), twice);
  ASSERT_TRUE(zav_.RemoveEntry("x"));
  EXPECT_EQ(FileCount(), 0u);
  EXPECT_FALSE(zav_.HasEntry("x"));
}

// A file lost in a crash of the machine, or damaged by hand, costs that one
// entry (it is fetched again), never the whole store.
TEST_F(LargeEntries, ALostOrCutFileMakesOnlyItsEntryAbsent) {
  ASSERT_TRUE(Put("lost", MakeContent(1, 1, kLarge)));
  const int32_t handle = zav_.OpenEntry("lost", 1, 0);
  fs::remove(OnlyFile());
  ASSERT_TRUE(Put("cut", MakeContent(2, 1, kLarge)));
  fs::resize_file(OnlyFile(), kLarge / 2);

  std::vector<uint8_t> buffer(kLarge);
  uint32_t n = kLarge;
  EXPECT_FALSE(zav_.ReadEntry(handle, buffer.data(), &n));
  EXPECT_EQ(zav_.GetErrorCode(kZavLastError), kZavErrChanged);
  for (const char* name : {"lost", "cut"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(zav_.HasEntry(name));
    EXPECT_EQ(zav_.GetEntrySizeByName(name), -1);
    EXPECT_EQ(zav_.OpenEntry(name, 1, 0), -1);
    EXPECT_EQ(zav_.GetErrorCode(kZavLastError), kZavErrNotFound);
  }
  const char* names[] = {"lost", "cut"};
  int32_t sizes[2];
  ASSERT_TRUE(zav_.GetEntrySizes(names, 2, sizes));
  EXPECT_EQ(sizes[0], -1);
  EXPECT_EQ(sizes[1], -1);
  zav_.Close();
  ASSERT_TRUE(zav_.Load(dir_.Store().c_str()));  // no damage marker
  const auto again = MakeContent(1, 2, kLarge);
  ASSERT_TRUE(Put("lost", again));
  EXPECT_EQ(ReadBack("lost"), again);
}

// A row naming a file outside the folder is damage, and nothing is read.
TEST_F(LargeEntries, AFileNameFromTheDatabaseNeverLeavesTheFolder) {
  WriteSource("secret", MakeContent(9, 1, kLarge));
  ASSERT_TRUE(Put("x", MakeContent(1, 1, kLarge)));
  zav_.Close();
  RunSql("UPDATE entries SET file = '../../secret' WHERE name = 'x'");
  ASSERT_TRUE(zav_.Load(dir_.Store().c_str()));
  EXPECT_EQ(zav_.OpenEntry("x", 1, 0), -1);
  EXPECT_EQ(zav_.GetErrorCode(kZavLastError), kZavErrDamaged);
}

TEST_F(LargeEntries, AFailedMoveLeavesTheFileWhereItWas) {
  const auto data = MakeContent(1, 1, kLarge);
  const std::string path = WriteSource("keep.bin", data);
  EXPECT_FALSE(zav_.MoveEntryFromFile("", path.c_str()));
  EXPECT_FALSE(zav_.MoveEntryFromFile("x", (dir_.path() + "/missing").c_str()));
  EXPECT_FALSE(zav_.MoveEntryFromFile("x", dir_.path().c_str()));  // a folder
  EXPECT_EQ(zav_.GetErrorCode(kZavLastError), kZavErrArgument);
  zav_.Close();
  EXPECT_FALSE(zav_.MoveEntryFromFile("x", path.c_str()));
  EXPECT_EQ(zav_.GetErrorCode(kZavLastError), kZavErrNotOpen);
  EXPECT_EQ(fs::file_size(path), kLarge);
  EXPECT_EQ(FileCount(), 0u);
}

TEST_F(LargeEntries, ARebuildRemovesTheFiles) {
  ASSERT_TRUE(Put("x", MakeContent(1, 1, kLarge)));
  ASSERT_TRUE(zav_.Create(dir_.Store().c_str(), kZavCreateRebuild, 0));
  EXPECT_EQ(FileCount(), 0u);
  EXPECT_FALSE(zav_.HasEntry("x"));
}

TEST(EntryFileTokens, OnlyTheWriterShapeNamesAFile) {
  EXPECT_TRUE(EntryFiles::IsToken(EntryFiles::NewToken()));
  EXPECT_NE(EntryFiles::NewToken(), EntryFiles::NewToken());
  for (const char* bad : {"", "..", "../1-a-b", "1-a-b/..", "0-a-b", "1-a", "1-a-b-c", "1--b", "1-a-", "1-A-b",
                          "-1-a-b", "1-a-b\n", "1-0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef-f"}) {
    EXPECT_FALSE(EntryFiles::IsToken(bad)) << bad;
  }
}

}  // namespace
}  // namespace udra::store::test

// The catalogue loaded ahead of the start-up: handed over only for the file
// that was read, and never when the file was replaced in the meantime.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "resources/CataloguePreload.h"
#include "tests/support/TempDir.h"
#include "util/Md5.h"

namespace udra {
namespace {

// Renames `from` over `to`. Windows refuses while the load still has `to`
// open: tried again for a moment.
bool ReplaceFile(const std::string& from, const std::string& to) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    if (!ec) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

const char kFirst[] = "Data\\a.txt|3|3|D1|P1|u\nData\\b.txt|4|4|D2|P2|u\n";
const char kSecond[] = "Data\\c.txt|5|5|D3|P3|u\n";

TEST(CataloguePreload, HandsOverTheLoadOfTheSameUnchangedFile) {
  test::TempDir dir;
  const std::string path = dir.path() + "/FileList.dat";
  dir.Write("FileList.dat", kFirst);
  FileList list;
  list.LoadFromBuffer(kSecond);
  const uint64_t before = list.generation();

  CataloguePreload preload;
  preload.Start(path);
  bool parsed = false;
  ASSERT_TRUE(preload.Take(path, list, parsed));
  EXPECT_TRUE(parsed);
  EXPECT_EQ(list.entryCount(), 2u);
  EXPECT_TRUE(list.contains("data\\B.TXT"));
  EXPECT_FALSE(list.contains("Data\\c.txt"));
  EXPECT_EQ(list.fileListDigest(), Md5::HexDigest(kFirst, sizeof kFirst - 1));
  EXPECT_NE(list.generation(), before);  // what was derived from the old entries is stale
  // Taken once: a second Take finds nothing.
  EXPECT_FALSE(preload.Take(path, list, parsed));
  EXPECT_EQ(list.entryCount(), 2u);
}

TEST(CataloguePreload, RefusesAnotherPathAReplacedOrResizedFileAndAMissingOne) {
  test::TempDir dir;
  const std::string path = dir.path() + "/FileList.dat";
  dir.Write("FileList.dat", kFirst);
  FileList list;
  bool parsed = false;
  CataloguePreload preload;

  preload.Start(path);
  EXPECT_FALSE(preload.Take(dir.path() + "/Other.dat", list, parsed));
  EXPECT_EQ(list.entryCount(), 0u);

  // A new version renamed over the file after the read began.
  preload.Start(path);
  dir.Write("FileList.new", kSecond);
  ASSERT_TRUE(ReplaceFile(dir.path() + "/FileList.new", path));
  EXPECT_FALSE(preload.Take(path, list, parsed));
  EXPECT_EQ(list.entryCount(), 0u);

  // The same file written again with other bytes of another length.
  preload.Start(path);
  dir.Write("FileList.dat", kFirst);
  EXPECT_FALSE(preload.Take(path, list, parsed));

  preload.Start(dir.path() + "/missing.dat");
  EXPECT_FALSE(preload.Take(dir.path() + "/missing.dat", list, parsed));

  // A load dropped unused leaves nothing behind for a later Take.
  preload.Start(path);
  preload.Discard();
  EXPECT_FALSE(preload.Take(path, list, parsed));
  EXPECT_EQ(list.entryCount(), 0u);
}

}  // namespace
}  // namespace udra

// The store's digest extension: digests recorded with writes, cleared by
// writes without one, listed, removed in bulk, and kept through an upgrade
// of a store of the previous format.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "components/store/StoreSchema.h"
#include "components/store/ZavStore.h"
#include "tests/store/StoreTestUtil.h"

namespace udra::store {
namespace {

using test::MakeContent;
using test::TempDir;

const char kDigestA[] = "0123456789ABCDEF0123456789ABCDEF";
const char kDigestB[] = "fedcba9876543210fedcba9876543210";
const char kDigestBUpper[] = "FEDCBA9876543210FEDCBA9876543210";

std::map<std::string, std::string> AllDigests(IZavDigests& store) {
  std::map<std::string, std::string> out;
  store.ListDigests(
      [](void* context, const char* name, int32_t, const char* digest) {
        (*static_cast<std::map<std::string, std::string>*>(context))[name] = digest;
        return true;
      },
      &out);
  return out;
}

std::string DigestOf(IZavDigests& store, const char* name, int32_t* size = nullptr) {
  int32_t sizes[1];
  ZavDigestText digests[1];
  store.GetEntryDigests(&name, 1, sizes, digests);
  if (size) *size = sizes[0];
  return digests[0].text;
}

class StoreDigestTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(store_.Create(dir_.Store().c_str(), kZavCreateNew, 0)); }

  TempDir dir_;
  ZavStore store_;
};

TEST_F(StoreDigestTest, WritesRecordOrClearTheDigest) {
  const std::vector<uint8_t> small = MakeContent(1, 1, 100);
  const std::vector<uint8_t> other = MakeContent(2, 1, 200);
  ZavDigestEntry entries[] = {{"Data\\a.txt", small.data(), uint32_t(small.size()), kDigestA},
                              {"Data\\b.txt", other.data(), uint32_t(other.size()), kDigestB},
                              {"Data\\c.txt", other.data(), uint32_t(other.size()), nullptr}};
  ASSERT_TRUE(store_.PutEntriesWithDigests(entries, 3));

  int32_t size = 0;
  EXPECT_EQ(DigestOf(store_, "DATA\\A.TXT", &size), kDigestA);  // names fold case
  EXPECT_EQ(size, 100);
  EXPECT_EQ(DigestOf(store_, "Data\\b.txt"), kDigestBUpper);  // stored upper-case
  EXPECT_EQ(DigestOf(store_, "Data\\c.txt", &size), "");      // not known
  EXPECT_EQ(size, 200);
  EXPECT_EQ(DigestOf(store_, "Data\\absent", &size), "");
  EXPECT_EQ(size, -1);

  // A write of the original kind replaces the entry and forgets its digest.
  ASSERT_TRUE(store_.PutEntry("Data\\a.txt", other.data(), uint32_t(other.size())));
  EXPECT_EQ(DigestOf(store_, "Data\\a.txt"), "");
  EXPECT_EQ((AllDigests(store_)), (std::map<std::string, std::string>{
                                     {"Data\\a.txt", ""}, {"Data\\b.txt", kDigestBUpper}, {"Data\\c.txt", ""}}));

  // A digest that is not one is no digest.
  ZavDigestEntry bad{"Data\\d.txt", small.data(), uint32_t(small.size()), "12345"};
  ASSERT_TRUE(store_.PutEntriesWithDigests(&bad, 1));
  EXPECT_EQ(DigestOf(store_, "Data\\d.txt"), "");
}

TEST_F(StoreDigestTest, SetDigestOnlyForTheSizeVerified) {
  const std::vector<uint8_t> bytes = MakeContent(3, 1, 300);
  ASSERT_TRUE(store_.PutEntry("x", bytes.data(), uint32_t(bytes.size())));
  EXPECT_FALSE(store_.SetEntryDigest("x", 299, kDigestA));  // replaced since it was read
  EXPECT_EQ(store_.GetErrorCode(kZavLastError), kZavErrChanged);
  EXPECT_FALSE(store_.SetEntryDigest("absent", 300, kDigestA));
  EXPECT_FALSE(store_.SetEntryDigest("x", 300, "not a digest"));
  EXPECT_EQ(DigestOf(store_, "x"), "");
  EXPECT_TRUE(store_.SetEntryDigest("x", 300, kDigestA));
  EXPECT_EQ(DigestOf(store_, "x"), kDigestA);
}

TEST_F(StoreDigestTest, RemoveEntriesInOneCommitIncludingLargeOnes) {
  const std::vector<uint8_t> large = MakeContent(4, 1, (1u << 20) + 10);
  const std::vector<uint8_t> small = MakeContent(5, 1, 10);
  ZavDigestEntry entries[] = {{"large", large.data(), uint32_t(large.size()), kDigestA},
                              {"small", small.data(), uint32_t(small.size()), kDigestB},
                              {"kept", small.data(), uint32_t(small.size()), kDigestB}};
  ASSERT_TRUE(store_.PutEntriesWithDigests(entries, 3));
  const char* names[] = {"LARGE", "small", "never there", nullptr, ""};
  ASSERT_TRUE(store_.RemoveEntries(names, 5));
  EXPECT_FALSE(store_.HasEntry("large"));
  EXPECT_FALSE(store_.HasEntry("small"));
  EXPECT_TRUE(store_.HasEntry("kept"));
  EXPECT_EQ((AllDigests(store_)), (std::map<std::string, std::string>{{"kept", kDigestBUpper}}));
  // The large entry's file went with it.
  size_t files = 0;
  for (const auto& f : std::filesystem::directory_iterator(dir_.Store() + "/ZAV.files")) files += f.is_regular_file();
  EXPECT_EQ(files, 0u);
  // A single removal clears the digest too: a new entry of that name starts unknown.
  ASSERT_TRUE(store_.RemoveEntry("kept"));
  ASSERT_TRUE(store_.PutEntry("kept", small.data(), uint32_t(small.size())));
  EXPECT_EQ(DigestOf(store_, "kept"), "");
}

TEST_F(StoreDigestTest, MoveFromFileRecordsTheDigest) {
  const std::string path = dir_.path() + "/download.part";
  const std::vector<uint8_t> large = MakeContent(6, 1, (1u << 20) + 1);
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(large.data(), 1, large.size(), f);
  fclose(f);
  ASSERT_TRUE(store_.MoveEntryFromFileWithDigest("big", path.c_str(), kDigestB));
  EXPECT_EQ(DigestOf(store_, "big"), kDigestBUpper);
}

TEST_F(StoreDigestTest, ListingPagesThroughManyDigests) {
  std::vector<std::string> names;
  for (int i = 0; i < 10000; ++i) names.push_back("n" + std::to_string(i));
  std::vector<ZavDigestEntry> entries;
  const uint8_t byte = 7;
  for (const std::string& n : names) entries.push_back({n.c_str(), &byte, 1, kDigestA});
  ASSERT_TRUE(store_.PutEntriesWithDigests(entries.data(), uint32_t(entries.size())));
  EXPECT_EQ(AllDigests(store_).size(), names.size());
  int seen = 0;
  EXPECT_EQ(store_.ListDigests([](void* c, const char*, int32_t, const char*) { return ++*static_cast<int*>(c) < 3; }, &seen),
            3);
}

// A store made before digests were recorded: built here with the previous
// layout, as that version left it.
void MakePreviousFormatStore(const TempDir& dir) {
  std::filesystem::create_directories(dir.Store());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.Database().c_str(), &db), SQLITE_OK);
  const std::string sql =
      "PRAGMA page_size=16384; PRAGMA journal_mode=WAL;"
      "CREATE TABLE entries(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL COLLATE NOCASE,"
      " size INTEGER NOT NULL, file TEXT, data BLOB NOT NULL);"
      "CREATE UNIQUE INDEX entries_by_name ON entries(name);"
      "CREATE INDEX entries_by_file ON entries(file) WHERE file IS NOT NULL;"
      "INSERT INTO entries(name, size, data) VALUES('Data\\a.txt', 3, x'616263'), ('Maps\\b.pack', 2, x'7879');"
      "PRAGMA application_id=" + std::to_string(kStoreApplicationId) +
      "; PRAGMA user_version=" + std::to_string(kStoreMigratableVersion) + ";";
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST(StoreMigration, PreviousFormatOpensWithEveryEntry) {
  TempDir dir;
  MakePreviousFormatStore(dir);
  {
    ZavStore store;
    ASSERT_TRUE(store.Load(dir.Store().c_str())) << store.GetErrorCode(kZavLastError);
    EXPECT_EQ(store.GetEntryCount(), 2);
    EXPECT_EQ(store.GetEntrySizeByName("data\\A.TXT"), 3);
    EXPECT_EQ(DigestOf(store, "Maps\\b.pack"), "");  // not known until checked
    EXPECT_TRUE(store.SetEntryDigest("Maps\\b.pack", 2, kDigestA));
  }
  // Opened again it is of the current format, and keeps what was recorded.
  ZavStore again;
  ASSERT_TRUE(again.Load(dir.Store().c_str()));
  EXPECT_EQ(DigestOf(again, "Maps\\b.pack"), kDigestA);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.Database().c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), kStoreFormatVersion);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

}  // namespace
}  // namespace udra::store

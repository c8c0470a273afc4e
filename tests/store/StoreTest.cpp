// The store in one process: lifecycle, error codes, names, reads, batches.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "StoreTestUtil.h"
#include "components/store/EntryFiles.h"
#include "components/store/StoreSchema.h"
#include "components/store/ZavStore.h"

namespace udra::store::test {
namespace {

bool Put(IZav& zav, const std::string& name, const std::vector<uint8_t>& data) {
  return zav.PutEntry(name.c_str(), data.data(), static_cast<uint32_t>(data.size()));
}

std::vector<uint8_t> ReadAll(IZav& zav, const char* name) {
  int32_t handle = zav.OpenEntry(name, 1, 0);
  if (handle < 0) return {};
  int32_t size = zav.GetEntrySize(handle);
  if (size < 0) return {};
  std::vector<uint8_t> out(static_cast<size_t>(size));
  uint32_t inout = static_cast<uint32_t>(size);
  if (!zav.ReadEntry(handle, out.data(), &inout)) return {};
  out.resize(inout);
  return out;
}

// The store's page size; damage below is placed by page.
constexpr long kPage = 16384;

void Overwrite(const std::string& path, long offset, size_t count, char byte) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(offset);
  std::string junk(count, byte);
  f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
}

void RunSql(const std::string& database, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST(Store, CreateLoadExistsAndRebuild) {
  TempDir dir;
  ZavStore zav;
  EXPECT_FALSE(zav.Exists(dir.Store().c_str()));
  EXPECT_FALSE(zav.Load(dir.Store().c_str()));
  EXPECT_EQ(zav.GetErrorCode(kZavLastError), kZavErrUnreadable);
  EXPECT_FALSE(zav.HasEntry("a"));
  EXPECT_EQ(zav.GetErrorCode(kZavLastError), kZavErrNotOpen);
  EXPECT_FALSE(zav.Create(dir.Store().c_str(), 7, 0));
  EXPECT_EQ(zav.GetErrorCode(kZavLastError), kZavErrArgument);

  ASSERT_TRUE(zav.Create(dir.Store().c_str(), kZavCreateNew, 1 << 20));
  EXPECT_TRUE(zav.Exists(dir.Store().c_str()));
  ASSERT_TRUE(Put(zav, "kept", MakeContent(1, 1, 100)));
  EXPECT_TRUE(zav.Close());

  // A second "new" store over an existing usable one keeps its entries.
  ASSERT_TRUE(zav.Create(dir.Store().c_str(), kZavCreateNew, 0));
  EXPECT_EQ(ReadAll(zav, "kept"), MakeContent(1, 1, 100));
  ASSERT_TRUE(zav.Load(dir.Store().c_str()));
  EXPECT_EQ(zav.GetEntryCount(), 1);
  // What a builder killed before publishing its database left goes with the
  // next build.
  const std::string leftover = dir.Database() + ".new-" + std::to_string(DeadProcessId()) + "-0";
  std::ofstream(leftover) << "partial";
  ASSERT_TRUE(zav.Create(dir.Store().c_str(), kZavCreateRebuild, 0));
  EXPECT_EQ(zav.GetEntryCount(), 0);
  EXPECT_FALSE(std::filesystem::exists(leftover));
  EXPECT_TRUE(zav.Close());
  EXPECT_TRUE(zav.Close());
}

// Each unusable store is reported with its code and cured by a rebuild.
TEST(Store, UnusableStoresReportTheirCodeAndRebuild) {
  struct Case {
    const char* what;
    int32_t code;
    void (*spoil)(const TempDir&);
  };
  const Case cases[] = {
      {"text file", kZavErrDamaged,
       [](const TempDir& d) {
         std::ofstream(d.Database()) << std::string(5000, 'x');
       }},
      {"empty file", kZavErrDamaged, [](const TempDir& d) { std::ofstream(d.Database()).flush(); }},
      {"other program's database", kZavErrDamaged,
       [](const TempDir& d) { RunSql(d.Database(), "CREATE TABLE t(x); INSERT INTO t VALUES(1);"); }},
      {"damaged pages", kZavErrDamaged,
       [](const TempDir& d) {
         ZavStore zav;
         ASSERT_TRUE(zav.Create(d.Store().c_str(), 0, 0));
         for (int i = 0; i < 2000; ++i) Put(zav, "entry-" + std::to_string(i), MakeContent(i, 1, 64));
         zav.Close();
         Overwrite(d.Database(), kPage, kPage * 8, '\x5a');  // the table's and index's pages
       }},
      {"other format version", kZavErrVersion,
       [](const TempDir& d) {
         ZavStore zav;
         ASSERT_TRUE(zav.Create(d.Store().c_str(), 0, 0));
         zav.Close();
         RunSql(d.Database(), ("PRAGMA user_version=" + std::to_string(kStoreFormatVersion + 1)).c_str());
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    ASSERT_TRUE(std::filesystem::create_directories(dir.Store()));
    c.spoil(dir);
    ZavStore zav;
    EXPECT_TRUE(zav.Exists(dir.Store().c_str()));
    EXPECT_FALSE(zav.Load(dir.Store().c_str()));
    EXPECT_EQ(zav.GetErrorCode(kZavLastError), c.code);
    // Flag 0 never throws a store away.
    EXPECT_FALSE(zav.Create(dir.Store().c_str(), kZavCreateNew, 0));
    ASSERT_TRUE(zav.Create(dir.Store().c_str(), kZavCreateRebuild, 0));
    EXPECT_EQ(zav.GetEntryCount(), 0);
    EXPECT_TRUE(Put(zav, "fresh", MakeContent(2, 1, 10)));
    zav.Close();
    EXPECT_TRUE(zav.Load(dir.Store().c_str()));
    EXPECT_TRUE(zav.HasEntry("fresh"));
  }
}

TEST(Store, NamesCompareIgnoringAsciiCaseOnly) {
  TempDir dir;
  ZavStore zav;
  ASSERT_TRUE(zav.Create(dir.Store().c_str(), 0, 0));
  ASSERT_TRUE(Put(zav, "Maps\\Town.PAK", MakeContent(1, 1, 50)));
  EXPECT_TRUE(zav.HasEntry("maps\\town.pak"));
  EXPECT_EQ(zav.GetEntrySizeByName("MAPS\\TOWN.pak"), 50);
  ASSERT_TRUE(Put(zav, "MAPS\\TOWN.PAK", MakeContent(1, 2, 70)));
  EXPECT_EQ(zav.GetEntryCount(), 1);
  EXPECT_EQ(ReadAll(zav, "maps\\Town.pak"), MakeContent(1, 2, 70));

  // Bytes above 127 (GBK text) are not folded.
  ASSERT_TRUE(Put(zav, "\xC4\xE3.txt", MakeContent(3, 1, 10)));
  EXPECT_FALSE(zav.HasEntry("\xE4\xE3.txt"));
  EXPECT_TRUE(zav.HasEntry("\xC4\xE3.TXT"));

  EXPECT_FALSE(zav.HasEntry(""));
  EXPECT_FALSE(zav.HasEntry(nullptr));
  EXPECT_FALSE(Put(zav, std::string(kZavMaxNameLength + 1, 'n'), MakeContent(4, 1, 10)));
  EXPECT_EQ(zav.GetErrorCode(kZavLastError), kZavErrArgument);
  EXPECT_TRUE(Put(zav, std::string(kZavMaxNameLength, 'n'), MakeContent(4, 1, 10)));
}

// Many sizes at once, as the downloader host asks for them: absent, invalid
// and case-folded names each get their own answer, and a closed store or a
// missing array is a failure that leaves no size behind.
TEST(Store, SizesOfManyEntriesAtOnce) {
  TempDir dir;
  ZavStore zav;
  const std::string tooLong(kZavMaxNameLength + 1, 'n');
  const char* names[] = {"a", "absent", "B", "", nullptr, tooLong.c_str(), "a"};
  int32_t sizes[7];
  EXPECT_FALSE(zav.GetEntrySizes(names, 7, sizes));
  EXPECT_EQ(zav.GetErrorCode(kZavLastError), kZavErrNotOpen);
  for (int32_t size : sizes) EXPECT_EQ(size, -1);

  ASSERT_TRUE(zav.Create(dir.Store().c_str(), 0, 0));
  ASSERT_TRUE(Put(zav, "A", MakeContent(1, 1, 50)));
  ASSERT_TRUE(Put(zav, "b", {}));
  ASSERT_TRUE(zav.GetEntrySizes(names, 7, sizes));
  const std::vector<int32_t> expected{50, -1, 0, -1, -1, -1, 50};
  EXPECT_EQ(std::vector<int32_t>(sizes, sizes + 7), expected);
  EXPECT_TRUE(zav.GetEntrySizes(nullptr, 0, nullptr));
  EXPECT_FALSE(zav.GetEntrySizes(nullptr, 2, sizes));
  EXPECT_EQ(zav.GetErrorCode(kZavLastError), kZavErrArgument);
  EXPECT_EQ(sizes[0], -1);
}

TEST(Store, ReadsNeverPassTheCallersBuffer) {
  TempDir dir;
  ZavStore zav;
  ASSERT_TRUE(zav.Create(dir.Store().c_str(), 0, 0));
  const std::vector<uint8_t> content = MakeContent(5, 1, 1000);
  ASSERT_TRUE(Put(zav, "e", content));
  ASSERT_TRUE(zav.PutEntry("empty", nullptr, 0));

  int32_t h = zav.OpenEntry("e", 1, 0);
  ASSERT_GE(h, 0);
  std::vector<uint8_t> buffer(1100, 0xEE);
  uint32_t inout = 999;
  EXPECT_FALSE(zav.ReadEntry(h, buffer.data(), &inout));
  EXPECT_EQ(inout, 0u);
  EXPECT_EQ(zav.GetErrorCode(kZavLastError), kZavErrTooSmall);
  EXPECT_EQ(buffer[0], 0xEE);

  inout = 1100;
  EXPECT_TRUE(zav.ReadEntry(h, buffer.data(), &inout));
  EXPECT_EQ(inout, 1000u);
  EXPECT_TRUE(std::equal(content.begin(), content.end(), buffer.begin()));
  EXPECT_EQ(buffer[1000], 0xEE);
  EXPECT_FALSE(zav.ReadEntry(h, buffer.data(), nullptr));

  inout = 10;
  EXPECT_TRUE(zav.ReadEntryAt(h, 995, buffer.data(), &inout));
  EXPECT_EQ(inout, 5u);
  EXPECT_TRUE(std::equal(content.begin() + 995, content.end(), buffer.begin()));
  inout = 10;
  EXPECT_TRUE(zav.ReadEntryAt(h, 2000, buffer.data(), &inout));
  EXPECT_EQ(inout, 0u);

  int32_t e = zav.OpenEntry("empty", 1, 0);
  EXPECT_EQ(zav.GetEntrySize(e), 0);
  inout = 0;
  EXPECT_TRUE(zav.ReadEntry(e, nullptr, &inout));
  EXPECT_EQ(inout, 0u);
}

TEST(Store, HandlesAreBoundedAndFollowTheEntryTheyOpened) {
  TempDir dir;
  ZavStore zav;
  ASSERT_TRUE(zav.Create(dir.Store().c_str(), 0, 0));
  ASSERT_TRUE(Put(zav, "e", MakeContent(6, 1, 100)));
  EXPECT_EQ(zav.GetEntrySize(-1), -1);
  EXPECT_EQ(zav.GetEntrySize(12345), -1);

  int32_t first = zav.OpenEntry("e", 1, 0);
  for (int i = 0; i < 256; ++i) ASSERT_GE(zav.OpenEntry("e", 1, 0), 0);
  EXPECT_EQ(zav.GetEntrySize(first), -1);  // forgotten, never confused with a newer handle

  // A handle reads the entry it reported on, or fails once it was replaced.
  int32_t h = zav.OpenEntry("e", 1, 0);
  ASSERT_EQ(zav.GetEntrySize(h), 100);
  ASSERT_TRUE(Put(zav, "e", MakeContent(6, 2, 100)));
  std::vector<uint8_t> buffer(100);
  uint32_t inout = 100;
  EXPECT_FALSE(zav.ReadEntry(h, buffer.data(), &inout));
  EXPECT_EQ(zav.GetErrorCode(kZavLastError), kZavErrChanged);
  EXPECT_EQ(ReadAll(zav, "e"), MakeContent(6, 2, 100));

  h = zav.OpenEntry("e", 1, 0);
  ASSERT_TRUE(zav.RemoveEntry("E"));
  EXPECT_TRUE(zav.RemoveEntry("E"));
  inout = 100;
  EXPECT_FALSE(zav.ReadEntry(h, buffer.data(), &inout));
  EXPECT_EQ(zav.OpenEntry("e", 1, 0), -1);
  EXPECT_EQ(zav.GetEntrySizeByName("e"), -1);
}

TEST(Store, BatchesCommitAllOrNothing) {
  TempDir dir;
  ZavStore zav;
  ASSERT_TRUE(zav.Create(dir.Store().c_str(), 0, 0));
  std::vector<std::vector<uint8_t>> contents;
  std::vector<std::string> names;
  for (int i = 0; i < 600; ++i) {
    contents.push_back(MakeContent(i, 1, 16 + i));
    char name[32];
    std::snprintf(name, sizeof name, "batch\\%04d", i);
    names.push_back(name);
  }
  std::vector<ZavEntryData> batch;
  for (size_t i = 0; i < names.size(); ++i) {
    batch.push_back({names[i].c_str(), contents[i].data(), static_cast<uint32_t>(contents[i].size())});
  }

  std::vector<ZavEntryData> spoiled(batch.begin(), batch.begin() + 3);
  spoiled.push_back({nullptr, contents[0].data(), 1});
  EXPECT_FALSE(zav.PutEntries(spoiled.data(), static_cast<uint32_t>(spoiled.size())));
  EXPECT_EQ(zav.GetEntryCount(), 0);

  batch.push_back({"BATCH\\0000", contents[1].data(), static_cast<uint32_t>(contents[1].size())});
  ASSERT_TRUE(zav.PutEntries(batch.data(), static_cast<uint32_t>(batch.size())));
  EXPECT_EQ(zav.GetEntryCount(), 600);
  EXPECT_EQ(ReadAll(zav, "batch\\0000"), contents[1]);  // the later of two equal names
  EXPECT_TRUE(zav.PutEntries(nullptr, 0));

  // Listing runs in name order across pages and may stop early.
  struct Seen {
    std::vector<std::string> names;
    size_t stopAfter;
  } seen{{}, 1000};
  auto collect = [](void* ctx, const char* name, int32_t) {
    auto* s = static_cast<Seen*>(ctx);
    s->names.push_back(name);
    return s->names.size() < s->stopAfter;
  };
  EXPECT_EQ(zav.ListEntries(collect, &seen), 600);
  EXPECT_TRUE(std::is_sorted(seen.names.begin(), seen.names.end()));
  seen = {{}, 300};
  EXPECT_EQ(zav.ListEntries(collect, &seen), 300);

  // A whole file as one entry.
  std::string file = dir.path() + "/source.bin";
  std::vector<uint8_t> big = MakeContent(9, 1, 3 * 1024 * 1024 + 17);
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(big.data()), big.size());
  ASSERT_TRUE(zav.PutEntryFromFile("from-file", file.c_str()));
  EXPECT_EQ(ReadAll(zav, "from-file"), big);
  EXPECT_FALSE(zav.PutEntryFromFile("x", (dir.path() + "/absent").c_str()));
}

TEST(Store, DamageFoundWhileReadingMakesTheNextLoadRebuild) {
  TempDir dir;
  {
    ZavStore zav;
    ASSERT_TRUE(zav.Create(dir.Store().c_str(), 0, 0));
    ASSERT_TRUE(Put(zav, "big", MakeContent(7, 1, kExternalMinSize - 1)));  // the largest kept in the database
  }
  // The entry's overflow pages, past the table and index pages.
  Overwrite(dir.Database(), kPage * 20, kPage * 30, '\x7f');
  ZavStore zav;
  ASSERT_TRUE(zav.Load(dir.Store().c_str()));
  EXPECT_TRUE(ReadAll(zav, "big").empty());
  EXPECT_EQ(zav.GetErrorCode(kZavLastError), kZavErrDamaged);
  zav.Close();
  EXPECT_FALSE(zav.Load(dir.Store().c_str()));
  EXPECT_EQ(zav.GetErrorCode(kZavLastError), kZavErrDamaged);
  ASSERT_TRUE(zav.Create(dir.Store().c_str(), kZavCreateRebuild, 0));
  zav.Close();
  EXPECT_TRUE(zav.Load(dir.Store().c_str()));
}

// The host keeps its store open while the game rebuilds it: the host's
// writes must land in the new store, where the game looks. Where open files
// cannot be removed (Windows) the rebuild is refused instead and the store
// stays whole for the host, its large entries included.
TEST(Store, AnOpenStoreFollowsARebuildByAnotherUser) {
  TempDir dir;
  ZavStore writer;
  ZavStore game;
  const std::vector<uint8_t> large = MakeContent(3, 1, kExternalMinSize);
  ASSERT_TRUE(writer.Create(dir.Store().c_str(), 0, 0));
  ASSERT_TRUE(Put(writer, "old", MakeContent(1, 1, 10)));
  ASSERT_TRUE(Put(writer, "large", large));
  if (!OpenFilesCanBeRemoved(dir.path())) {
    EXPECT_FALSE(game.Create(dir.Store().c_str(), kZavCreateRebuild, 0));
    EXPECT_EQ(game.GetErrorCode(kZavLastError), kZavErrUnreadable);
    EXPECT_EQ(ReadAll(writer, "large"), large);
    EXPECT_TRUE(Put(writer, "new", MakeContent(2, 1, 10)));
    EXPECT_TRUE(writer.HasEntry("old"));
    return;
  }
  ASSERT_TRUE(game.Create(dir.Store().c_str(), kZavCreateRebuild, 0));
  EXPECT_TRUE(Put(writer, "new", MakeContent(2, 1, 10)));
  EXPECT_TRUE(game.HasEntry("new"));
  EXPECT_FALSE(writer.HasEntry("old"));
  EXPECT_FALSE(writer.HasEntry("large"));
}

TEST(Store, ThreadsOfOneProcessShareAStore) {
  TempDir dir;
  ZavStore zav;
  ASSERT_TRUE(zav.Create(dir.Store().c_str(), 0, 0));
  ASSERT_TRUE(Put(zav, "hot", MakeContent(0, 0, 64)));
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < 2; ++w) {
    threads.emplace_back([&, w] {
      for (uint32_t v = 1; v <= 200; ++v) {
        std::vector<uint8_t> c = MakeContent(0, v * 2 + w, 64 + v * 7 % 500);
        if (!zav.PutEntry("hot", c.data(), static_cast<uint32_t>(c.size()))) ++bad;
      }
    });
  }
  for (int r = 0; r < 2; ++r) {
    threads.emplace_back([&] {
      while (!stop) {
        std::vector<uint8_t> c = ReadAll(zav, "hot");
        // A read may lose the race with a replacement, but never sees a mix.
        if (!c.empty() && !IsWholeContent(0, c.data(), c.size())) ++bad;
      }
    });
  }
  threads[0].join();
  threads[1].join();
  stop = true;
  threads[2].join();
  threads[3].join();
  EXPECT_EQ(bad, 0);
}

}  // namespace
}  // namespace udra::store::test

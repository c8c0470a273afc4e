#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "resources/FileOperations.h"
#include "resources/KeyOrder.h"
#include "support/FileSlotsManager.h"

namespace udra {
namespace {

// A manager that forwards its file slots to FileOperations, as the real one
// does; the other slots do nothing.
class FakeManager : public test::FileSlotsManager {
 public:
  FakeManager()
      : ops(lock, fileList, useRecord, *this, [this](const std::string& n) { return store.count(n) > 0; },
            [this](const std::string& key, int32_t size) { return Load(key, size); },
            [this] { return tick; }) {}

  FileOperations& files() override { return ops; }


  DecodedContent Load(const std::string& key, int32_t size) {
    ++loads;
    DecodedContent c;
    auto it = content.find(key);
    if (it == content.end()) return c;  // failure
    if (it->second.empty()) {
      c.outcome = DecodedContent::Outcome::Empty;
      return c;
    }
    if (int32_t(it->second.size()) != size) return c;
    c.outcome = DecodedContent::Outcome::Bytes;
    c.data.reset(new char[size]);
    std::memcpy(c.data.get(), it->second.data(), size);
    c.size = uint32_t(size);
    return c;
  }

  std::recursive_mutex lock;
  FileList fileList;
  UseRecord useRecord{[] { return int64_t(1); }};
  std::set<std::string, KeyOrder> store;  // names compare without case, as in the store
  std::map<std::string, std::string, KeyOrder> content;
  uint32_t tick = 100;
  int loads = 0;
  FileOperations ops;
};

class FileOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m.fileList.LoadFromBuffer(
        "Dir|-1|0|||u\n"
        "Dir\\a.txt|10|4|00112233445566778899aabbccddeeff|ffeeddccbbaa99887766554433221100|u\n"
        "Dir\\b.txt|3|3|d|pd|u\n"
        "Dir\\Sub|-1|0|d|pd|u|Dir\\Sub.pack\n"
        "Dir\\Sub\\c.txt|2|9|d|pd|u|Dir\\Sub.pack\n"
        "empty.txt|0|0\n"
        "zero.txt|5|1\n"
        "broken.txt|4|1\n"));
    m.store = {"Dir\\a.txt", "Dir\\b.txt", "Dir\\Sub.pack", "empty.txt", "zero.txt", "broken.txt", "uncatalogued"};
    m.content = {{"Dir\\a.txt", "0123456789"}, {"Dir\\b.txt", "abc"}, {"Dir\\Sub\\c.txt", "cc"}, {"zero.txt", ""}};
    m.ops.Reset(1000);
  }

  std::string ReadAll(int32_t h, uint32_t chunk = 4) {
    std::string out;
    for (;;) {
      char buf[64];
      uint32_t n = chunk;
      if (!m.ReadOpenFile(h, buf, &n, 0)) return out + "<fail>";
      if (n == 0) return out;
      out.append(buf, n);
    }
  }

  FakeManager m;
};

TEST_F(FileOperationsTest, OpenChecksModeFoldersAndPresence) {
  EXPECT_EQ(m.OpenFile("Dir\\a.txt", "rb"), -1);
  EXPECT_EQ(m.OpenFile("Dir\\a.txt", nullptr), -1);
  EXPECT_EQ(m.OpenFile(nullptr, "r"), -1);
  EXPECT_EQ(m.OpenFile("dir", "r"), -1);
  m.store.erase("Dir\\b.txt");
  EXPECT_EQ(m.OpenFile("Dir\\b.txt", "r"), -1);
  EXPECT_EQ(m.OpenFile("/Dir/b.txt", "r"), -1);
  EXPECT_EQ(m.ops.MissingFiles(), std::set<std::string>{"Dir\\b.txt"});
  EXPECT_EQ(m.OpenFile(std::string(300, 'x').c_str(), "r"), -1);

  const int32_t h = m.OpenFile(" \"dir/A.TXT\" ", "r");
  ASSERT_GE(h, 0);
  EXPECT_EQ(ReadAll(h), "0123456789");
  EXPECT_EQ(m.useRecord.entries().at("dir\\A.TXT").count, 1u);

  // In the store but not catalogued: opens, but cannot be read.
  const int32_t u = m.OpenFile("uncatalogued", "r");
  ASSERT_GE(u, 0);
  EXPECT_EQ(ReadAll(u), "<fail>");
}

TEST_F(FileOperationsTest, MissingFilesStopAt100) {
  for (int i = 0; i < 150; ++i) {
    const std::string p = "gone" + std::to_string(i);
    EXPECT_EQ(m.OpenFile(p.c_str(), "r"), -1);
  }
  EXPECT_EQ(m.ops.MissingFiles().size(), 100u);
}

TEST_F(FileOperationsTest, HandlesShareOneCacheEntry) {
  const int32_t h1 = m.OpenFile("Dir\\a.txt", "r");
  const int32_t h2 = m.OpenFile("Dir\\a.txt", "r");
  ASSERT_GE(h1, 0);
  EXPECT_EQ(h2, h1 + 1);
  EXPECT_EQ(ReadAll(h1, 3), "0123456789");
  EXPECT_EQ(ReadAll(h2, 64), "0123456789");
  EXPECT_EQ(m.loads, 1);
  EXPECT_EQ(m.ops.cacheBytes(), 10u);

  ASSERT_TRUE(m.SetCacheLimit(1));
  EXPECT_TRUE(m.CloseFile(h1));
  EXPECT_EQ(m.ops.cacheEntryCount(), 1u);  // still open on h2
  EXPECT_TRUE(m.CloseFile(h2));
  EXPECT_EQ(m.ops.cacheEntryCount(), 0u);
  EXPECT_EQ(m.ops.cacheBytes(), 0u);
  EXPECT_FALSE(m.CloseFile(h2));
}

TEST_F(FileOperationsTest, ReadsAndSeeks) {
  const int32_t h = m.OpenFile("Dir\\a.txt", "r");
  char buf[32];
  uint32_t n = 32;
  ASSERT_TRUE(m.ReadOpenFile(h, buf, &n, 0));
  EXPECT_EQ(n, 10u);
  n = 32;
  ASSERT_TRUE(m.ReadOpenFile(h, buf, &n, 0));
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(m.IsOpenFileAtEnd(h));

  EXPECT_TRUE(m.SeekOpenFile(h, 0, 0));
  EXPECT_FALSE(m.SeekOpenFile(h, -1, 1));
  EXPECT_FALSE(m.SeekOpenFile(h, 1, 2));
  EXPECT_FALSE(m.SeekOpenFile(h, 0, 3));
  EXPECT_FALSE(m.SeekOpenFile(h, INT64_MAX, 1));
  EXPECT_FALSE(m.SeekOpenFile(h, INT64_MIN, 2));
  EXPECT_FALSE(m.IsOpenFileAtEnd(h));
  EXPECT_TRUE(m.SeekOpenFile(h, 0, 2));
  EXPECT_TRUE(m.IsOpenFileAtEnd(h));
  EXPECT_TRUE(m.SeekOpenFile(h, -4, 1));
  uint64_t pos = 0;
  ASSERT_TRUE(m.TellOpenFile(h, &pos));
  EXPECT_EQ(pos, 6u);
  n = 2;
  ASSERT_TRUE(m.ReadOpenFile(h, buf, &n, 0));
  EXPECT_EQ(std::string(buf, n), "67");

  // Handles never issued or already closed, null buffers, zero sizes.
  n = 4;
  EXPECT_FALSE(m.ReadOpenFile(h, nullptr, &n, 0));
  EXPECT_FALSE(m.ReadOpenFile(h, buf, nullptr, 0));
  n = 0;
  EXPECT_FALSE(m.ReadOpenFile(h, buf, &n, 0));
  n = 4;
  EXPECT_FALSE(m.ReadOpenFile(-1, buf, &n, 0));
  EXPECT_FALSE(m.ReadOpenFile(h + 1000, buf, &n, 0));
  pos = 77;
  EXPECT_FALSE(m.TellOpenFile(h + 1000, &pos));
  EXPECT_EQ(pos, 0u);
  EXPECT_FALSE(m.TellOpenFile(h, nullptr));
  EXPECT_FALSE(m.SeekOpenFile(h + 1000, 0, 0));
  EXPECT_FALSE(m.IsOpenFileAtEnd(-1));
  EXPECT_FALSE(m.CloseFile(-1));
  int32_t size = 0;
  EXPECT_FALSE(m.QueryOpenFileSize(h + 1000, &size));
  EXPECT_FALSE(m.QueryOpenFileSize(h, nullptr));
  ASSERT_TRUE(m.QueryOpenFileSize(h, &size));
  EXPECT_EQ(size, 10);
  EXPECT_TRUE(m.CloseFile(h));
  EXPECT_FALSE(m.ReadOpenFile(h, buf, &n, 0));
}

TEST_F(FileOperationsTest, EmptyAndFailingContent) {
  const int32_t e = m.OpenFile("empty.txt", "r");  // catalogue size 0: no load at all
  EXPECT_EQ(ReadAll(e), "");
  // The store's entry is empty but the catalogue says 5 bytes: the read
  // fails (every time) rather than report an end that IsOpenFileAtEnd denies.
  const int32_t z = m.OpenFile("zero.txt", "r");
  EXPECT_EQ(ReadAll(z), "<fail>");
  EXPECT_FALSE(m.IsOpenFileAtEnd(z));
  EXPECT_EQ(ReadAll(z), "<fail>");
  EXPECT_EQ(m.ops.cacheBytes(), 0u);

  const int32_t b = m.OpenFile("broken.txt", "r");
  ASSERT_GE(b, 0);
  EXPECT_EQ(ReadAll(b), "<fail>");
  EXPECT_EQ(ReadAll(b), "<fail>");
  EXPECT_EQ(m.ops.cacheBytes(), 0u);
  uint64_t pos = 1;
  EXPECT_TRUE(m.TellOpenFile(b, &pos));  // the handle stays open
  EXPECT_EQ(pos, 0u);
}

TEST_F(FileOperationsTest, TrimsOldestClosedEntryFirst) {
  m.tick = 300;
  const int32_t a = m.OpenFile("Dir\\a.txt", "r");
  m.tick = 100;
  const int32_t b = m.OpenFile("Dir\\b.txt", "r");
  m.tick = 0xFFFFFFFF;
  const int32_t c = m.OpenFile("Dir\\Sub\\c.txt", "r");
  m.tick = 300;
  EXPECT_EQ(ReadAll(a), "0123456789");
  EXPECT_EQ(ReadAll(b), "abc");
  m.tick = 0xFFFFFFFF;
  EXPECT_EQ(ReadAll(c), "cc");
  EXPECT_EQ(m.ops.cacheBytes(), 15u);
  m.CloseFile(a);
  m.CloseFile(b);
  m.CloseFile(c);
  EXPECT_EQ(m.ops.cacheEntryCount(), 3u);  // the limit of 1000 holds them all

  // a and b share tick 300: the path first in byte order goes first.
  ASSERT_TRUE(m.SetCacheLimit(12));
  EXPECT_EQ(m.ops.cacheBytes(), 5u);
  uint32_t size, lastUse;
  int32_t uses;
  bool loaded;
  EXPECT_FALSE(m.ops.CacheInfo("Dir\\a.txt", size, lastUse, uses, loaded));
  EXPECT_TRUE(m.ops.CacheInfo("Dir\\b.txt", size, lastUse, uses, loaded));
  ASSERT_TRUE(m.SetCacheLimit(1));
  EXPECT_FALSE(m.ops.CacheInfo("Dir\\b.txt", size, lastUse, uses, loaded));
  // A tick of 0xFFFFFFFF is never chosen.
  EXPECT_TRUE(m.ops.CacheInfo("Dir\\Sub\\c.txt", size, lastUse, uses, loaded));
  EXPECT_EQ(m.ops.cacheBytes(), 2u);

  EXPECT_FALSE(m.SetCacheLimit(0));
  EXPECT_EQ(m.ops.cacheLimit(), 1u);
  EXPECT_TRUE(m.SetCacheLimit(-1));
  EXPECT_EQ(m.ops.cacheLimit(), 0xFFFFFFFFu);
}

// The trim keeps an order of its own; whatever a session does with its
// handles, each trim removes exactly the entries that picking the least
// recently used closed entry (ties by path, never the 0xFFFFFFFF tick) one at
// a time would remove, in that order.
TEST(FileOperationsTrim, RemovesWhatTheLeastRecentChoiceWouldRemove) {
  FakeManager m;
  std::string list;
  std::vector<std::string> names;
  for (int i = 0; i < 60; ++i) {
    names.push_back("f" + std::to_string(i % 7) + "_" + std::to_string(i));
    list += names.back() + "|" + std::to_string(1 + i % 5) + "|1\n";
    m.store.insert(names.back());
    m.content[names.back()] = std::string(size_t(1 + i % 5), 'x');
  }
  ASSERT_TRUE(m.fileList.LoadFromBuffer(list));
  m.ops.Reset(0xFFFFFFFFu);

  std::mt19937 random(7);
  std::map<std::string, std::vector<int32_t>> open;
  // The entry the plain rule picks among the current cache entries.
  auto expectedVictim = [&]() -> std::string {
    std::string best;
    uint32_t bestTick = 0;
    for (const std::string& name : std::set<std::string>(names.begin(), names.end())) {
      uint32_t size, lastUse;
      int32_t uses;
      bool loaded;
      if (!m.ops.CacheInfo(name, size, lastUse, uses, loaded) || uses != 0 || lastUse == 0xFFFFFFFFu) continue;
      if (best.empty() || lastUse < bestTick) best = name, bestTick = lastUse;
    }
    return best;
  };
  for (int step = 0; step < 3000; ++step) {
    const std::string& name = names[random() % names.size()];
    // Few distinct ticks, so that ties are common; now and then the tick
    // that is never trimmed.
    m.tick = random() % 20 == 0 ? 0xFFFFFFFFu : uint32_t(random() % 8);
    switch (random() % 4) {
      case 0: {
        const int32_t h = m.OpenFile(name.c_str(), "r");
        ASSERT_NE(h, -1);
        open[name].push_back(h);
        break;
      }
      case 1:
        if (!open[name].empty()) {
          char buf[8];
          uint32_t n = sizeof buf;
          ASSERT_TRUE(m.ReadOpenFile(open[name].back(), buf, &n, 0));
        }
        break;
      case 2:
        if (!open[name].empty()) {
          m.ops.SetCacheLimit(-1);  // closing must not trim here
          ASSERT_TRUE(m.CloseFile(open[name].back()));
          open[name].pop_back();
        }
        break;
      default: {
        // Trim to a random limit one removal at a time and compare each.
        const uint64_t bytes = m.ops.cacheBytes();
        if (bytes == 0) break;
        const std::string victim = expectedVictim();
        ASSERT_TRUE(m.SetCacheLimit(int32_t(bytes - 1)));
        uint32_t size, lastUse;
        int32_t uses;
        bool loaded;
        if (victim.empty()) {
          EXPECT_EQ(m.ops.cacheBytes(), bytes);
        } else {
          EXPECT_FALSE(m.ops.CacheInfo(victim, size, lastUse, uses, loaded)) << "step " << step;
        }
        break;
      }
    }
  }
  // A limit of 1 leaves only open entries and those of the 0xFFFFFFFF tick.
  ASSERT_TRUE(m.SetCacheLimit(1));
  ASSERT_GT(m.ops.cacheBytes(), 1u);  // some open entries hold data
  for (const std::string& name : names) {
    uint32_t size, lastUse;
    int32_t uses;
    bool loaded;
    if (!m.ops.CacheInfo(name, size, lastUse, uses, loaded)) continue;
    EXPECT_TRUE(uses != 0 || lastUse == 0xFFFFFFFFu) << name;
  }
}

TEST_F(FileOperationsTest, SizesFoldersAndPresence) {
  int32_t size = 7;
  EXPECT_TRUE(m.QueryFileSize("dir/b.txt", &size));
  EXPECT_EQ(size, 3);
  size = 7;
  EXPECT_FALSE(m.QueryFileSize("Dir", &size));
  EXPECT_EQ(size, 7);
  EXPECT_FALSE(m.QueryFileSize(nullptr, &size));
  EXPECT_TRUE(m.IsFolder("DIR\\"));
  EXPECT_FALSE(m.IsFolder("Dir\\a.txt"));
  EXPECT_FALSE(m.IsFolder(nullptr));

  EXPECT_TRUE(m.IsFileInArchive("Dir\\Sub\\c.txt"));  // through its package
  m.store.erase("Dir\\Sub.pack");
  EXPECT_FALSE(m.IsFileInArchive("Dir\\Sub\\c.txt"));
  EXPECT_TRUE(m.IsFileInArchive("uncatalogued"));
  EXPECT_FALSE(m.IsFileInArchive(nullptr));
}

TEST_F(FileOperationsTest, ListFilesFlagsAndOrder) {
  FileInfo* list = nullptr;
  ASSERT_EQ(m.ListFiles("Dir", &list), 4);
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list[0].key, "Dir\\a.txt");
  EXPECT_EQ(list[0].flags, 4u);
  EXPECT_EQ(list[0].size, 10);
  EXPECT_EQ(list[0].packedSize, 4);
  EXPECT_EQ(list[0].digest[1], 0x11);
  EXPECT_EQ(list[0].packedDigest[0], 0xFF);
  EXPECT_STREQ(list[1].key, "Dir\\b.txt");
  EXPECT_EQ(list[1].flags, 4u);
  EXPECT_EQ(list[1].digest[0], 0);  // "d" is not a digest: bytes stay zero
  EXPECT_STREQ(list[2].key, "Dir\\Sub");
  EXPECT_EQ(list[2].flags, 3u);
  EXPECT_STREQ(list[2].packageName, "Dir\\Sub.pack");
  EXPECT_EQ(list[2].size, -1);
  EXPECT_STREQ(list[3].key, "Dir\\Sub\\c.txt");
  m.FreeFileList(list);

  ASSERT_EQ(m.ListFiles("dir\\A.TXT", &list), 1);
  EXPECT_STREQ(list[0].key, "dir\\A.TXT");  // the caller's spelling
  EXPECT_EQ(list[0].size, 10);
  m.FreeFileList(list);

  list = reinterpret_cast<FileInfo*>(&m);
  EXPECT_EQ(m.ListFiles("none", &list), 0);
  EXPECT_EQ(list, nullptr);
  list = reinterpret_cast<FileInfo*>(&m);
  EXPECT_EQ(m.ListFiles("dir", &list), 0);  // the walk is case-sensitive on the folder
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(m.ListFiles(nullptr, &list), 0);
  m.FreeFileList(nullptr);
}

TEST_F(FileOperationsTest, ThreadsShareTheCacheSafely) {
  ASSERT_TRUE(m.SetCacheLimit(1));  // every last close drops the data
  std::vector<std::thread> threads;
  std::vector<int> bad(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t, &bad] {
      for (int i = 0; i < 200; ++i) {
        const int32_t h = m.OpenFile(t % 2 ? "Dir\\a.txt" : "Dir\\b.txt", "r");
        if (ReadAll(h) != (t % 2 ? "0123456789" : "abc")) ++bad[t];
        if (!m.CloseFile(h)) ++bad[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(bad, std::vector<int>(4, 0));
  EXPECT_EQ(m.ops.openFileCount(), 0u);
  EXPECT_EQ(m.ops.cacheBytes(), 0u);
}

}  // namespace
}  // namespace udra

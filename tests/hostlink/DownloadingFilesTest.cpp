#include "hostlink/DownloadingFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "hostlink/HostlinkTestSupport.h"

namespace udra {
namespace {

using hostlinktest::UniqueKey;

constexpr uint64_t kAlign = platform::SharedMemory::kViewAlignment;

// The host's side: a table mapping that the test writes entry by entry.
class FakeTable {
 public:
  FakeTable(const std::string& key, uint64_t size)
      : memory_(platform::SharedMemory::Create(DownloadingFiles::TableName(key), size)),
        bytes_(memory_ ? static_cast<uint8_t*>(memory_->MapView(0, 0)) : nullptr),
        size_(size) {}
  bool ok() const { return bytes_ != nullptr; }
  uint64_t size() const { return size_; }

  void PutU32(uint64_t at, uint32_t value) { std::memcpy(bytes_ + at, &value, 4); }
  // An entry at `at` of `length` bytes; the name is written with its NUL
  // when it fits.
  void Put(uint64_t at, uint32_t length, int32_t done, const std::string& name) {
    PutU32(at, length);
    PutU32(at + 4, static_cast<uint32_t>(done));
    PutU32(at + 8, 0xDDDDDDDD);
    std::memcpy(bytes_ + at + 12, name.data(), name.size());
    if (12 + name.size() < length) bytes_[at + 12 + name.size()] = 0;
  }
  // Entries packed from offset 0, each just long enough; returns the offset
  // after the last (where the terminating 0 is).
  uint64_t PutAll(const std::vector<std::pair<std::string, int32_t>>& entries) {
    uint64_t at = 0;
    for (const auto& e : entries) {
      const uint32_t length = static_cast<uint32_t>(12 + e.first.size() + 1);
      Put(at, length, e.second, e.first);
      at += length;
    }
    PutU32(at, 0);
    return at;
  }

 private:
  std::unique_ptr<platform::SharedMemory> memory_;
  uint8_t* bytes_;
  uint64_t size_;
};

// Opens the table of a fresh key with a mapping of `size` bytes.
struct Fixture {
  explicit Fixture(uint64_t size) : key(UniqueKey("HLTABLE")), table(key, size), files(key) {}
  std::string key;
  FakeTable table;
  DownloadingFiles files;
};

TEST(DownloadingFiles, OpenNeedsTheHostsTable) {
  DownloadingFiles files(UniqueKey("HLNOTABLE"));
  EXPECT_FALSE(files.Open());
  int32_t out = 77;
  EXPECT_FALSE(files.GetDownloadedBytes("a", out, nullptr));
  EXPECT_EQ(out, 77);
}

TEST(DownloadingFiles, FindsNamesIgnoringLetterCaseAndRemembersWhere) {
  Fixture f(4 * kAlign);
  ASSERT_TRUE(f.table.ok());
  f.table.PutAll({{"data\\one.pak", 100}, {"Data\\Two.PAK", 200}, {"three", -1}});
  ASSERT_TRUE(f.files.Open());

  int32_t out = 0;
  ASSERT_TRUE(f.files.GetDownloadedBytes("DATA\\TWO.pak", out, nullptr));
  EXPECT_EQ(out, 200);
  ASSERT_TRUE(f.files.GetDownloadedBytes("three", out, nullptr));
  EXPECT_EQ(out, -1);
  out = 5;
  EXPECT_FALSE(f.files.GetDownloadedBytes("data\\two", out, nullptr));  // a prefix is not the name
  EXPECT_FALSE(f.files.GetDownloadedBytes("data\\one.pak.x", out, nullptr));
  EXPECT_EQ(out, 5);
  EXPECT_EQ(f.files.rememberedCount(), 2u);
}

TEST(DownloadingFiles, ARememberedEntryIsReadInPlaceAtAnyOffset) {
  Fixture f(4 * kAlign);
  // A long first entry puts the second at an offset inside the second granule.
  const uint32_t first = static_cast<uint32_t>(kAlign + 1000);
  f.table.Put(0, first, 1, "big");
  f.table.Put(first, 64, 10, "late\\file");
  f.table.PutU32(first + 64, 0);
  ASSERT_TRUE(f.files.Open());
  int32_t out = 0;
  ASSERT_TRUE(f.files.GetDownloadedBytes("LATE\\FILE", out, nullptr));
  EXPECT_EQ(out, 10);

  // The host advances the entry and the walk to it is gone: the second query
  // reads the remembered offset, also under another letter case.
  f.table.Put(first, 64, 4096, "late\\file");
  f.table.PutU32(0, 0);
  ASSERT_TRUE(f.files.GetDownloadedBytes("late\\file", out, nullptr));
  EXPECT_EQ(out, 4096);
  EXPECT_EQ(f.files.rememberedCount(), 1u);
  EXPECT_FALSE(f.files.GetDownloadedBytes("big", out, nullptr));  // not remembered, no longer listed
}

// The host gives the entry of an ended download to another name: a
// remembered offset whose name has changed is not read, and the name is
// looked for afresh.
TEST(DownloadingFiles, AnEntryGivenToAnotherNameIsNotTakenForTheOld) {
  Fixture f(kAlign);
  const uint64_t end = f.table.PutAll({{"first", 1}, {"moved", 2}});
  ASSERT_TRUE(f.files.Open());
  int32_t out = 0;
  ASSERT_TRUE(f.files.GetDownloadedBytes("moved", out, nullptr));
  EXPECT_EQ(out, 2);

  f.table.Put(18, 18, 900, "other");  // the entry of "moved", rewritten
  out = -5;
  EXPECT_FALSE(f.files.GetDownloadedBytes("moved", out, nullptr));
  EXPECT_EQ(out, -5);
  EXPECT_EQ(f.files.rememberedCount(), 0u);

  f.table.Put(end, 18, 44, "MOVED");  // published again further on
  f.table.PutU32(end + 18, 0);
  ASSERT_TRUE(f.files.GetDownloadedBytes("moved", out, nullptr));
  EXPECT_EQ(out, 44);
  f.table.Put(end, 18, 45, "MOVED");
  ASSERT_TRUE(f.files.GetDownloadedBytes("moved", out, nullptr));
  EXPECT_EQ(out, 45);
}

TEST(DownloadingFiles, AnEntryAtTheVeryEndOfTheMappingIsReadAgain) {
  Fixture f(2 * kAlign);
  const uint32_t first = static_cast<uint32_t>(2 * kAlign - 20);
  f.table.Put(0, first, 0, "filler");
  f.table.Put(first, 20, 33, "tail");  // its name ends 3 bytes before the end
  ASSERT_TRUE(f.files.Open());
  int32_t out = 0;
  ASSERT_TRUE(f.files.GetDownloadedBytes("tail", out, nullptr));
  EXPECT_EQ(out, 33);
  ASSERT_TRUE(f.files.GetDownloadedBytes("tail", out, nullptr));  // the remembered offset
  EXPECT_EQ(out, 33);
}

// Tables a broken or hostile host may leave: nothing is found past the
// damage and nothing is read outside the mapping.
TEST(DownloadingFiles, HostileTablesEndTheWalk) {
  int32_t out = 9;
  {
    Fixture f(kAlign);
    f.table.PutU32(0, 0);  // empty table
    f.table.Put(4, 40, 1, "after-end");
    ASSERT_TRUE(f.files.Open());
    EXPECT_FALSE(f.files.GetDownloadedBytes("after-end", out, nullptr));
  }
  {
    Fixture f(kAlign);
    f.table.Put(0, 0xFFFFFFF0u, 1, "huge");  // points far past the end
    ASSERT_TRUE(f.files.Open());
    EXPECT_FALSE(f.files.GetDownloadedBytes("huge", out, nullptr));
  }
  {
    Fixture f(kAlign);
    f.table.Put(0, 30, 1, "a");
    f.table.Put(30, static_cast<uint32_t>(kAlign - 29), 1, "one-past");  // one byte too long
    ASSERT_TRUE(f.files.Open());
    EXPECT_FALSE(f.files.GetDownloadedBytes("one-past", out, nullptr));
    EXPECT_TRUE(f.files.GetDownloadedBytes("a", out, nullptr));
  }
  {
    Fixture f(kAlign);
    f.table.PutU32(0, 8);  // too short for its own header
    f.table.Put(8, 40, 1, "behind-short");
    ASSERT_TRUE(f.files.Open());
    EXPECT_FALSE(f.files.GetDownloadedBytes("behind-short", out, nullptr));
  }
  {
    // The last entry fills the mapping to its last byte with no NUL.
    Fixture f(kAlign);
    const uint32_t first = static_cast<uint32_t>(kAlign - 16);
    f.table.Put(0, first, 1, "filler");
    f.table.Put(first, 16, 2, "abcd");  // 4 name bytes, no room for a NUL
    ASSERT_TRUE(f.files.Open());
    out = 9;
    EXPECT_FALSE(f.files.GetDownloadedBytes("abcde", out, nullptr));
    EXPECT_FALSE(f.files.GetDownloadedBytes("abc", out, nullptr));
    EXPECT_EQ(out, 9);
    ASSERT_TRUE(f.files.GetDownloadedBytes("ABCD", out, nullptr));  // the whole field is its name
    EXPECT_EQ(out, 2);
  }
  {
    // Nothing but non-zero lengths up to the end: the walk stops at the end.
    Fixture f(kAlign);
    for (uint64_t at = 0; at < kAlign; at += 16) f.table.Put(at, 16, 1, "xxxx");
    ASSERT_TRUE(f.files.Open());
    EXPECT_FALSE(f.files.GetDownloadedBytes("missing", out, nullptr));
  }
}

TEST(DownloadingFiles, TheStoreAnswersFirst) {
  Fixture f(kAlign);
  f.table.PutAll({{"stored", 10}, {"broken", 20}});
  ASSERT_TRUE(f.files.Open());
  std::map<std::string, int32_t> store{{"stored", 12345}, {"broken", -1}};
  StoredSizes sizes{[&](const std::string& n) { return store.count(n) > 0; },
                    [&](const std::string& n) { return store.at(n); }};
  int32_t out = 0;
  ASSERT_TRUE(f.files.GetDownloadedBytes("stored", out, &sizes));
  EXPECT_EQ(out, 12345);  // complete in the store, though the table lists it
  EXPECT_FALSE(f.files.GetDownloadedBytes("broken", out, &sizes));
  EXPECT_EQ(f.files.rememberedCount(), 0u);

  // Without the table only the store answers.
  f.files.Close();
  EXPECT_TRUE(f.files.GetDownloadedBytes("stored", out, &sizes));
  EXPECT_FALSE(f.files.GetDownloadedBytes("other", out, &sizes));
}

// Readers that keep a hint per name: the hint leads straight to the entry
// while the name is there, follows the entry when it moved to another name,
// and is cleared when the name is gone; an entry near the end of a mapping
// smaller than the table's limit is read within it.
TEST(DownloadingFiles, HintsFollowTheEntries) {
  Fixture f(kAlign);
  const uint64_t end = f.table.PutAll({{"first", 1}, {"moved", 2}});
  ASSERT_TRUE(f.files.Open());
  uint64_t hint = 0;
  int32_t out = 0;
  ASSERT_TRUE(f.files.GetDownloadedBytesAt("MOVED", hint, out));
  EXPECT_EQ(out, 2);
  EXPECT_EQ(hint, 18u + 1);
  f.table.PutU32(18 + 4, 300);  // the host counts on
  ASSERT_TRUE(f.files.GetDownloadedBytesAt("moved", hint, out));
  EXPECT_EQ(out, 300);

  f.table.Put(18, 18, 900, "other");  // the entry given to another name
  f.table.Put(end, 18, 44, "moved");  // and the name published further on
  f.table.PutU32(end + 18, 0);
  ASSERT_TRUE(f.files.GetDownloadedBytesAt("moved", hint, out));
  EXPECT_EQ(out, 44);
  EXPECT_EQ(hint, end + 1);

  f.table.Put(end, 18, 45, "gone!");
  out = 7;
  EXPECT_FALSE(f.files.GetDownloadedBytesAt("moved", hint, out));
  EXPECT_EQ(out, 7);
  EXPECT_EQ(hint, 0u);

  // The last bytes of the mapping.
  Fixture small(kAlign);
  small.table.Put(0, uint32_t(kAlign - 20), 1, "pad");
  small.table.Put(kAlign - 20, 20, 66, "tail\\x");
  ASSERT_TRUE(small.files.Open());
  hint = 0;
  ASSERT_TRUE(small.files.GetDownloadedBytesAt("tail\\x", hint, out));
  EXPECT_EQ(out, 66);
  ASSERT_TRUE(small.files.GetDownloadedBytesAt("tail\\x", hint, out));
  EXPECT_EQ(out, 66);
}

}  // namespace
}  // namespace udra

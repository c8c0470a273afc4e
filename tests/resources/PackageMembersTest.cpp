// Package members read on their own through kept directories and ranged
// reads: what is read, when a kept directory may serve, and when it must not.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "resources/ContentDecoder.h"
#include "resources/EntryChecks.h"
#include "resources/Package.h"
#include "resources/PackageCache.h"

namespace udra {
namespace {

void Put32(std::string& s, int32_t v) {
  for (int i = 0; i < 4; ++i) s += char(uint32_t(v) >> (8 * i) & 0xFF);
}

// A package of (name, stored bytes) members, data after the directory.
std::string Package(const std::vector<std::pair<std::string, std::string>>& members) {
  size_t offset = 8;
  for (const auto& m : members) offset += 13 + m.first.size();
  std::string dir = "PACK", data;
  Put32(dir, int32_t(members.size()));
  for (const auto& m : members) {
    dir += '\x01';
    Put32(dir, int32_t(m.second.size()));
    Put32(dir, int32_t(offset + data.size()));
    Put32(dir, int32_t(m.first.size()));
    dir += m.first;
    data += m.second;
  }
  return dir + data;
}

// A store whose handles are bound to the entry they were opened on, as the
// project's store binds them: a replaced or removed entry fails their reads
// with kChanged; a forgotten handle fails with kFailed.
class RangedStore : public IEntryReader {
 public:
  void Set(const std::string& name, std::string bytes) {
    entries[name] = {std::move(bytes), ++version_};
  }
  void Remove(const std::string& name) { entries.erase(name); }
  void ForgetHandles() { handles_.clear(); }

  int32_t OpenEntry(const char* name, int32_t, int32_t) override {
    ++opens;
    auto it = entries.find(name);
    if (it == entries.end()) return -1;
    handles_[next_] = {name, it->second.version};
    return next_++;
  }
  int32_t GetEntrySize(int32_t h) override {
    const Entry* e = Behind(h);
    return e ? int32_t(e->bytes.size()) : -1;
  }
  bool ReadEntry(int32_t h, void* buffer, uint32_t* size) override {
    const Entry* e = Behind(h);
    if (!e || *size < e->bytes.size()) return false;
    ++wholeReads;
    bytesRead += e->bytes.size();
    *size = uint32_t(e->bytes.size());
    std::memcpy(buffer, e->bytes.data(), *size);
    return true;
  }
  bool ReadsRanges() const override { return ranges; }
  Range ReadRange(int32_t h, uint32_t offset, void* buffer, uint32_t size) override {
    auto handle = handles_.find(h);
    if (handle == handles_.end()) return Range::kFailed;
    const Entry* e = Behind(h);
    if (!e) return Range::kChanged;
    if (offset > e->bytes.size() || size > e->bytes.size() - offset) return Range::kFailed;
    ++rangedReads;
    bytesRead += size;
    std::memcpy(buffer, e->bytes.data() + offset, size);
    return Range::kRead;
  }

  bool ranges = true;
  int opens = 0, wholeReads = 0, rangedReads = 0;
  size_t bytesRead = 0;

 private:
  struct Entry {
    std::string bytes;
    int version;
  };
  // The entry a handle was opened on, null when it changed or went.
  const Entry* Behind(int32_t h) const {
    auto handle = handles_.find(h);
    if (handle == handles_.end()) return nullptr;
    auto it = entries.find(handle->second.first);
    if (it == entries.end() || it->second.version != handle->second.second) return nullptr;
    return &it->second;
  }
  std::map<std::string, Entry> entries;
  std::map<int32_t, std::pair<std::string, int>> handles_;
  int32_t next_ = 0;
  int version_ = 0;
};

// "Decodes" by dropping a leading '#'.
bool PlainDecode(const char* data, int32_t length, char** out, int32_t* size) {
  if (length < 1 || data[0] != '#' || length - 1 > *size) return false;
  *out = new char[length - 1];
  std::memcpy(*out, data + 1, length - 1);
  *size = length - 1;
  return true;
}

std::string Text(const DecodedContent& c) {
  return c.outcome == DecodedContent::Outcome::Bytes ? std::string(c.data.get(), c.size) : "<none>";
}

constexpr const char* kPack = "Data\\Pack.pack";

DecodedContent Read(RangedStore& store, PackageCache& cache, const std::string& member, int32_t size,
                    const StoredCheck& check = StoredCheck()) {
  return DecodeContent(store, PlainDecode, "Data\\Pack\\" + member, kPack, size, check, &cache);
}

class PackageMembers : public ::testing::Test {
 protected:
  void SetUp() override {
    big = std::string(300000, 'b');
    store.Set(kPack, Package({{"a.txt", "#alpha"}, {"big.bin", "#" + big}, {"c.txt", "#gamma"}, {"e", ""}}));
  }
  RangedStore store;
  PackageCache cache;
  std::string big;
};

TEST_F(PackageMembers, MembersAreReadOnTheirOwnAndTheDirectoryIsKept) {
  DecodedContent c = Read(store, cache, "a.txt", 5);
  EXPECT_EQ(Text(c), "alpha");
  EXPECT_EQ(store.wholeReads, 0);
  EXPECT_LE(store.bytesRead, size_t(64 << 10) + 6);  // the directory's first part and the member
  EXPECT_EQ(cache.size(), 1u);

  store.bytesRead = 0;
  const int opens = store.opens;
  EXPECT_EQ(Text(Read(store, cache, "C.TXT", 5)), "gamma");
  EXPECT_EQ(store.opens, opens);          // through the kept handle
  EXPECT_EQ(store.bytesRead, size_t(6));  // the member's bytes alone
  EXPECT_EQ(Text(Read(store, cache, "big.bin", int32_t(big.size()))), big);
  EXPECT_EQ(Read(store, cache, "e", 0).outcome, DecodedContent::Outcome::Empty);
  EXPECT_TRUE(Read(store, cache, "e", 3).damaged);
  EXPECT_TRUE(Read(store, cache, "a.txt", 6).damaged);  // decodes to another size
  EXPECT_EQ(store.wholeReads, 0);

  // A store without ranged reads reads the package whole, as ever, and keeps
  // nothing.
  PackageCache none;
  store.ranges = false;
  EXPECT_EQ(Text(Read(store, none, "a.txt", 5)), "alpha");
  EXPECT_EQ(store.wholeReads, 1);
  EXPECT_EQ(none.size(), 0u);
}

TEST_F(PackageMembers, AReplacedPackageNeverServesItsOldDirectory) {
  ASSERT_EQ(Text(Read(store, cache, "a.txt", 5)), "alpha");
  // Same size, members moved: the old offsets would deliver other bytes.
  const std::string before = Package({{"a.txt", "#alpha"}, {"c.txt", "#gamma"}});
  const std::string after = Package({{"a.txt", "#gamma"}, {"c.txt", "#alpha"}});
  ASSERT_EQ(before.size(), after.size());
  store.Set(kPack, before);
  cache.Clear();
  ASSERT_EQ(Text(Read(store, cache, "a.txt", 5)), "alpha");
  store.Set(kPack, after);  // replaced behind the kept handle, nobody told

  DecodedContent c = Read(store, cache, "c.txt", 5);
  EXPECT_EQ(c.outcome, DecodedContent::Outcome::Failed);
  EXPECT_TRUE(c.changed);  // the caller checks the new entry again
  EXPECT_FALSE(c.damaged);
  EXPECT_EQ(cache.size(), 0u);
  // Read again, the new entry's own directory serves.
  EXPECT_EQ(Text(Read(store, cache, "c.txt", 5)), "alpha");
  EXPECT_EQ(Text(Read(store, cache, "a.txt", 5)), "gamma");

  // A removed package fails cleanly and leaves nothing kept.
  store.Remove(kPack);
  c = Read(store, cache, "a.txt", 5);
  EXPECT_EQ(c.outcome, DecodedContent::Outcome::Failed);
  EXPECT_TRUE(c.changed);
  EXPECT_EQ(Read(store, cache, "a.txt", 5).outcome, DecodedContent::Outcome::Failed);
  EXPECT_EQ(cache.size(), 0u);
}

TEST_F(PackageMembers, AForgottenHandleOrAMemberMissingFromTheKeptDirectoryReadsAfresh) {
  ASSERT_EQ(Text(Read(store, cache, "a.txt", 5)), "alpha");
  store.ForgetHandles();  // the store keeps a bounded number of handles
  DecodedContent c = Read(store, cache, "c.txt", 5);
  EXPECT_EQ(Text(c), "gamma");
  EXPECT_FALSE(c.changed);

  // A member the kept directory lacks may be in a newer package: the
  // directory is read again rather than trusted.
  const int opens = store.opens;
  EXPECT_TRUE(Read(store, cache, "nothere", 5).damaged);
  EXPECT_EQ(store.opens, opens + 1);
}

TEST_F(PackageMembers, DamagedDirectoriesFailCleanly) {
  // Too short for a header; members outside the package; a count far beyond
  // the entries; a name length past the end.
  std::string outside = "PACK";
  Put32(outside, 2);
  outside += '\x01';
  Put32(outside, 100);
  Put32(outside, 5);
  Put32(outside, 1);
  outside += "a";
  std::string runaway = Package({{"a.txt", "#alpha"}});
  runaway[4] = '\x7F';
  std::string longName = "PACK";
  Put32(longName, 1);
  longName += '\x01';
  Put32(longName, 1);
  Put32(longName, 0);
  Put32(longName, 0x7FFFFFF0);
  for (const std::string& bytes : {std::string("PAC"), outside, longName}) {
    store.Set(kPack, bytes);
    cache.Clear();
    DecodedContent c = Read(store, cache, "a", 1);
    EXPECT_EQ(c.outcome, DecodedContent::Outcome::Failed);
    EXPECT_TRUE(c.damaged);
  }
  store.Set(kPack, runaway);
  cache.Clear();
  EXPECT_EQ(Text(Read(store, cache, "a.txt", 5)), "alpha");
}

TEST_F(PackageMembers, ADirectoryLongerThanOneReadIsReadInParts) {
  std::vector<std::pair<std::string, std::string>> members;
  for (int i = 0; i < 6000; ++i) members.push_back({"member_with_a_long_name_" + std::to_string(i), "#" + std::to_string(i)});
  store.Set(kPack, Package(members));
  ASSERT_GT(8 + 6000 * 37, 128 << 10);
  EXPECT_EQ(Text(Read(store, cache, "member_with_a_long_name_5999", 4)), "5999");
  EXPECT_EQ(Text(Read(store, cache, "member_with_a_long_name_0", 1)), "0");
  EXPECT_EQ(store.wholeReads, 0);
  EXPECT_GT(store.rangedReads, 3);
}

TEST_F(PackageMembers, ACheckedPackageIsReadWholeAndItsDirectoryKeptOnlyWhenItPasses) {
  const StoredCheck fail = [](const char*, uint32_t) { return false; };
  const StoredCheck pass = [](const char*, uint32_t) { return true; };
  EXPECT_TRUE(Read(store, cache, "a.txt", 5, fail).damaged);
  EXPECT_EQ(cache.size(), 0u);
  EXPECT_EQ(Text(Read(store, cache, "a.txt", 5, pass)), "alpha");
  EXPECT_EQ(store.wholeReads, 2);
  EXPECT_EQ(cache.size(), 1u);
  store.bytesRead = 0;
  EXPECT_EQ(Text(Read(store, cache, "c.txt", 5)), "gamma");
  EXPECT_EQ(store.bytesRead, size_t(6));
}

TEST(PackageCache, BoundedLeastRecentlyUsedFirst) {
  auto directory = [](size_t names) {
    std::vector<std::pair<std::string, std::string>> members;
    for (size_t i = 0; i < names; ++i) members.push_back({std::string(200, 'n') + std::to_string(i), "#"});
    const std::string bytes = Package(members);
    auto d = std::make_shared<PackageDirectory>();
    d->Parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return d;
  };
  PackageCache cache;
  const auto small = directory(1);
  for (size_t i = 0; i < PackageCache::kMaxPackages + 5; ++i) cache.Put("p" + std::to_string(i), {1, 2, small});
  EXPECT_EQ(cache.size(), PackageCache::kMaxPackages);
  PackageCache::Entry e;
  EXPECT_FALSE(cache.Find("p0", e));
  EXPECT_TRUE(cache.Find("P5", e));  // names compare without case
  cache.Put("fresh", {1, 2, small});
  EXPECT_TRUE(cache.Find("p5", e));  // used recently: p6 went instead
  EXPECT_FALSE(cache.Find("p6", e));

  // Bytes bound: a directory over the bound is never kept; large ones push
  // the oldest out.
  cache.Clear();
  const size_t perName = PackageDirectory::kNodeOverhead + 203;
  EXPECT_FALSE((cache.Put("huge", {1, 2, directory(PackageCache::kMaxBytes / perName + 1)}), cache.Find("huge", e)));
  const auto third = directory(PackageCache::kMaxBytes / perName / 3);
  for (int i = 0; i < 4; ++i) cache.Put("t" + std::to_string(i), {1, 2, third});
  EXPECT_LE(cache.bytes(), PackageCache::kMaxBytes);
  EXPECT_FALSE(cache.Find("t0", e));
  EXPECT_TRUE(cache.Find("t3", e));
  cache.Forget("T3");
  EXPECT_FALSE(cache.Find("t3", e));
}

TEST(PackageCache, WhateverVoidsAnEntrysCheckDropsItsDirectory) {
  EntryChecks checks;
  const auto d = std::make_shared<PackageDirectory>();
  auto keep = [&](const char* name) { checks.packages().Put(name, {1, 2, d}); };
  PackageCache::Entry e;
  keep("a.pack");
  checks.Forget("A.pack");  // a completed download
  EXPECT_FALSE(checks.packages().Find("a.pack", e));
  keep("b.pack");
  checks.Drop("b.pack");  // failed its check
  EXPECT_FALSE(checks.packages().Find("b.pack", e));
  keep("c.pack");
  checks.Reset();  // the store is released
  EXPECT_FALSE(checks.packages().Find("c.pack", e));
}

TEST(PackageDirectoryParts, ACutDirectoryAsksForMore) {
  const std::string bytes = Package({{"first", "#1"}, {"second", "#2"}});
  PackageDirectory dir;
  bool cut = false;
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  ASSERT_TRUE(dir.Parse(data, 4, bytes.size(), &cut));
  EXPECT_TRUE(cut);
  ASSERT_TRUE(dir.Parse(data, 8 + 13 + 5 + 3, bytes.size(), &cut));
  EXPECT_TRUE(cut);
  EXPECT_EQ(dir.memberCount(), 1u);  // "first" is whole; its data is checked against the package
  ASSERT_TRUE(dir.Parse(data, 8 + 2 * 13 + 11, bytes.size(), &cut));
  EXPECT_FALSE(cut);
  EXPECT_EQ(dir.memberCount(), 2u);
  EXPECT_FALSE(dir.Parse(data, 4, bytes.size(), nullptr));  // a part without a way to ask for more
}

}  // namespace
}  // namespace udra

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "resources/ContentDecoder.h"
#include "resources/Package.h"

namespace udra {
namespace {

class PackageBuilder {
 public:
  PackageBuilder& Member(const std::string& name, const std::string& data, int32_t nameLength = -1) {
    members_.push_back({name, data, nameLength < 0 ? int32_t(name.size()) : nameLength, 0, 0, false});
    return *this;
  }
  PackageBuilder& Raw(const std::string& name, int32_t size, int32_t offset) {
    members_.push_back({name, "", int32_t(name.size()), size, offset, true});
    return *this;
  }
  std::string Build(int32_t count = -1) const {
    std::string dir;
    size_t dirSize = 8;
    for (const auto& m : members_) dirSize += 13 + m.name.size();
    std::string data;
    for (const auto& m : members_) {
      const int32_t offset = m.raw ? m.offset : int32_t(dirSize + data.size());
      const int32_t size = m.raw ? m.size : int32_t(m.data.size());
      dir += '\x07';
      Put(dir, size);
      Put(dir, offset);
      Put(dir, m.nameLength);
      dir += m.name;
      data += m.data;
    }
    std::string out = "PACK";
    Put(out, count >= 0 ? count : int32_t(members_.size()));
    return out + dir + data;
  }

 private:
  struct M {
    std::string name, data;
    int32_t nameLength, size, offset;
    bool raw;
  };

 public:
  static void Put(std::string& s, int32_t v) {
    for (int i = 0; i < 4; ++i) s += char(uint32_t(v) >> (8 * i) & 0xFF);
  }
  std::vector<M> members_;
};

bool Parse(PackageDirectory& dir, const std::string& bytes) {
  return dir.Parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(PackageDirectory, FindsMembersInKeyOrderFirstWins) {
  const std::string pkg = PackageBuilder().Member("a.txt", "one").Member("Sub\\B.txt", "two").Member("A.TXT", "dup").Build();
  PackageDirectory dir;
  ASSERT_TRUE(Parse(dir, pkg));
  PackageMember m;
  ASSERT_TRUE(dir.Find("A.txt", m));
  EXPECT_EQ(pkg.substr(m.offset, m.size), "one");
  ASSERT_TRUE(dir.Find("\\sub\\b.txt\\", m));  // CatalogueKey applied
  EXPECT_EQ(pkg.substr(m.offset, m.size), "two");
  EXPECT_EQ(dir.memberCount(), 2u);
}

TEST(PackageDirectory, HostileDirectories) {
  PackageDirectory dir;
  EXPECT_FALSE(Parse(dir, "PACK"));  // no count
  EXPECT_TRUE(Parse(dir, PackageBuilder().Build(0)));
  EXPECT_EQ(dir.memberCount(), 0u);

  // A huge count over a short directory parses what is there.
  EXPECT_TRUE(Parse(dir, PackageBuilder().Member("a", "x").Build(0x7FFFFFFF)));
  EXPECT_EQ(dir.memberCount(), 1u);

  // Data outside the package, negative values, a name past the end.
  const std::string outside = PackageBuilder()
                                  .Raw("past", 10, 1000)
                                  .Raw("neg", -1, 8)
                                  .Raw("negoff", 1, -5)
                                  .Raw("wrap", 0x7FFFFFFF, 0x7FFFFFFF)
                                  .Member("ok", "data")
                                  .Build();
  ASSERT_TRUE(Parse(dir, outside));
  PackageMember m;
  EXPECT_FALSE(dir.Find("past", m));
  EXPECT_FALSE(dir.Find("neg", m));
  EXPECT_FALSE(dir.Find("negoff", m));
  EXPECT_FALSE(dir.Find("wrap", m));
  EXPECT_TRUE(dir.Find("ok", m));

  std::string truncated = PackageBuilder().Member("first", "1").Member("second", "2").Build();
  truncated.resize(8 + 13 + 5 + 13 + 3);
  ASSERT_TRUE(Parse(dir, truncated));
  EXPECT_EQ(dir.memberCount(), 0u);  // "first"'s data lay beyond the cut; "second" runs past the end

  // A name longer than 256 bytes is left out; the next entry is still read.
  ASSERT_TRUE(Parse(dir, PackageBuilder().Member(std::string(257, 'n'), "x").Member("after", "y").Build()));
  EXPECT_FALSE(dir.Find(std::string(257, 'n'), m));
  EXPECT_TRUE(dir.Find("after", m));
}

TEST(PackageDirectory, ZeroInNameSetsTheStep) {
  // The name "ab\0..." is stored as "ab" and the next entry starts right
  // after "ab": the zero is that entry's type byte.
  std::string name = std::string("ab\0", 3);
  PackageBuilder::Put(name, 1);  // size
  PackageBuilder::Put(name, 0);  // offset
  PackageBuilder::Put(name, 1);  // name length
  name += "c";
  const std::string pkg = PackageBuilder().Member(name, "").Build(2);
  PackageDirectory dir;
  ASSERT_TRUE(Parse(dir, pkg));
  PackageMember m;
  EXPECT_TRUE(dir.Find("ab", m));
  ASSERT_TRUE(dir.Find("c", m));
  EXPECT_EQ(m.offset, 0);
  EXPECT_EQ(m.size, 1);
  EXPECT_EQ(dir.memberCount(), 2u);
}

TEST(PackageMemberName, RelativeToThePackageFolder) {
  EXPECT_EQ(PackageMemberName("Data\\Pack.pack", "Data\\Pack\\a.txt"), "a.txt");
  EXPECT_EQ(PackageMemberName("Data\\Pack.pack", "data\\PACK\\sub\\a.txt"), "sub\\a.txt");
  EXPECT_EQ(PackageMemberName("Data\\Pack.pack", "Other\\b.txt"), "Other\\b.txt");
  EXPECT_EQ(PackageMemberName("Data\\Pack.pack", "Data\\Pack"), "Data\\Pack");
  EXPECT_EQ(PackageMemberName("Data\\Pack.pack", "Data\\Packages"), "ages");
  EXPECT_EQ(PackageMemberName("p", "p\\x"), "x");
}

// The archive store as the decoder sees it.
class FakeStore : public IEntryReader {
 public:
  std::map<std::string, std::string> entries;
  bool failRead = false;
  int32_t OpenEntry(const char* name, int32_t mode, int32_t reserved) override {
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(reserved, 0);
    auto it = entries.find(name);
    if (it == entries.end()) return -1;
    handles.push_back(it->second);
    return int32_t(handles.size() - 1);
  }
  int32_t GetEntrySize(int32_t h) override { return int32_t(handles.at(h).size()); }
  bool ReadEntry(int32_t h, void* buffer, uint32_t* size) override {
    if (failRead) return false;
    const std::string& d = handles.at(h);
    *size = std::min<uint32_t>(*size, uint32_t(d.size()));
    std::memcpy(buffer, d.data(), *size);
    return true;
  }
  std::vector<std::string> handles;
};

// "Decodes" by taking the entry as it is, minus a leading '#'.
bool PlainDecode(const char* data, int32_t length, char** out, int32_t* size) {
  if (length < 1 || data[0] != '#' || length - 1 > *size) return false;
  *out = new char[length - 1];
  std::memcpy(*out, data + 1, length - 1);
  *size = length - 1;
  return true;
}

std::string Text(const DecodedContent& c) { return std::string(c.data.get(), c.size); }

TEST(DecodeContent, StoredFileAndPackageMember) {
  FakeStore store;
  store.entries["Data\\a.txt"] = "#hello";
  store.entries["Data\\Pack.pack"] = PackageBuilder().Member("x.txt", "#packed").Member("empty", "").Build();
  DecodedContent c = DecodeContent(store, PlainDecode, "Data\\a.txt", "", 5);
  ASSERT_EQ(c.outcome, DecodedContent::Outcome::Bytes);
  EXPECT_EQ(Text(c), "hello");

  c = DecodeContent(store, PlainDecode, "Data\\Pack\\X.TXT", "Data\\Pack.pack", 6);
  ASSERT_EQ(c.outcome, DecodedContent::Outcome::Bytes);
  EXPECT_EQ(Text(c), "packed");
  EXPECT_EQ(DecodeContent(store, PlainDecode, "Data\\Pack\\empty", "Data\\Pack.pack", 0).outcome,
            DecodedContent::Outcome::Empty);
  // An empty member of a file catalogued with bytes is damaged content.
  c = DecodeContent(store, PlainDecode, "Data\\Pack\\empty", "Data\\Pack.pack", 6);
  EXPECT_EQ(c.outcome, DecodedContent::Outcome::Failed);
  EXPECT_TRUE(c.damaged);
  EXPECT_EQ(DecodeContent(store, PlainDecode, "Data\\Pack\\none", "Data\\Pack.pack", 6).outcome,
            DecodedContent::Outcome::Failed);
}

TEST(DecodeContent, FailuresAndEmptyEntries) {
  FakeStore store;
  store.entries["e"] = "";
  store.entries["a"] = "#abc";
  store.entries["bad"] = "abc";
  EXPECT_EQ(DecodeContent(store, PlainDecode, "e", "", 0).outcome, DecodedContent::Outcome::Empty);
  // An empty entry can only be a file of size 0: for any other it is damaged,
  // and the stored-bytes check sees the empty bytes (so they can be dropped).
  DecodedContent e = DecodeContent(store, PlainDecode, "e", "", 3);
  EXPECT_EQ(e.outcome, DecodedContent::Outcome::Failed);
  EXPECT_TRUE(e.damaged);
  int checked = -1;
  e = DecodeContent(store, PlainDecode, "e", "", 3, [&](const char*, uint32_t size) {
    checked = int(size);
    return true;
  });
  EXPECT_TRUE(e.damaged);
  EXPECT_EQ(checked, 0);
  EXPECT_EQ(DecodeContent(store, PlainDecode, "missing", "", 3).outcome, DecodedContent::Outcome::Failed);
  EXPECT_EQ(DecodeContent(store, PlainDecode, "a", "", 4).outcome, DecodedContent::Outcome::Failed);  // size mismatch
  EXPECT_EQ(DecodeContent(store, PlainDecode, "a", "", 2).outcome, DecodedContent::Outcome::Failed);  // too large
  EXPECT_EQ(DecodeContent(store, PlainDecode, "bad", "", 2).outcome, DecodedContent::Outcome::Failed);
  store.failRead = true;
  EXPECT_EQ(DecodeContent(store, PlainDecode, "a", "", 3).outcome, DecodedContent::Outcome::Failed);
}

// The stored-bytes check, small entries (checked before decoding) and large
// ones (checked on a second thread while they decode) alike: a failed check
// is Damaged whatever the decode gave; a missing entry is not damaged.
TEST(DecodeContent, CheckedStoredBytes) {
  for (const size_t size : {size_t(10), size_t(200000)}) {
    SCOPED_TRACE(size);
    FakeStore store;
    const std::string body(size, 'z');
    store.entries["f"] = "#" + body;
    store.entries["Data\\Pack.pack"] = PackageBuilder().Member("empty", "").Member("big", "#" + body).Build();
    int calls = 0;
    std::string seen;
    const StoredCheck pass = [&](const char* data, uint32_t n) {
      ++calls;
      seen.assign(data, n);
      return true;
    };
    const StoredCheck fail = [](const char*, uint32_t) { return false; };

    DecodedContent c = DecodeContent(store, PlainDecode, "f", "", int32_t(size), pass);
    ASSERT_EQ(c.outcome, DecodedContent::Outcome::Bytes);
    EXPECT_EQ(Text(c), body);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, store.entries["f"]);  // the whole stored form
    c = DecodeContent(store, PlainDecode, "f", "", int32_t(size), fail);
    EXPECT_EQ(c.outcome, DecodedContent::Outcome::Failed);
    EXPECT_TRUE(c.damaged);
    // The package is checked as a whole, also for an empty member.
    c = DecodeContent(store, PlainDecode, "Data\\Pack\\empty", "Data\\Pack.pack", 0, fail);
    EXPECT_TRUE(c.damaged);
    EXPECT_EQ(c.outcome, DecodedContent::Outcome::Failed);
    c = DecodeContent(store, PlainDecode, "Data\\Pack\\big", "Data\\Pack.pack", int32_t(size), pass);
    EXPECT_EQ(c.outcome, DecodedContent::Outcome::Bytes);
    EXPECT_EQ(seen, store.entries["Data\\Pack.pack"]);
    // Decoding to another size is damage too; an absent entry is not.
    EXPECT_TRUE(DecodeContent(store, PlainDecode, "f", "", int32_t(size) + 1, pass).damaged);
    EXPECT_FALSE(DecodeContent(store, PlainDecode, "absent", "", 3, pass).damaged);
  }
}

}  // namespace
}  // namespace udra

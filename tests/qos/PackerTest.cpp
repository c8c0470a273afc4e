// The generic packer on hand-made descriptions.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "qos/MetaBuild.h"
#include "qos/Packer.h"
#include "qos/QosLibs.h"

namespace udra::qos {
namespace {

using namespace meta;

struct Leaf {
  int32_t value;
};

constexpr MetaEntry kLeafEntries[] = {Field("value", MetaType::Int, 0, 4)};

// A chain of `depth` struct descriptions, each holding the next at offset 0.
struct Chain {
  explicit Chain(int depth) : entries(depth), descs(depth) {
    for (int i = depth - 1; i >= 0; --i) {
      if (i == depth - 1) {
        descs[i] = Struct("Leaf", sizeof(Leaf), kLeafEntries);
      } else {
        entries[i] = Nested("inner", &descs[i + 1], 0, sizeof(Leaf));
        descs[i] = Struct("Level", sizeof(Leaf), kLeafEntries);
        descs[i].entries = &entries[i];
        descs[i].entryCount = 1;
      }
    }
  }
  std::vector<MetaEntry> entries;
  std::vector<MetaDesc> descs;
};

int32_t PackChain(int depth) {
  Chain chain(depth);
  Leaf leaf{7};
  uint8_t out[16];
  size_t outSize = sizeof(out);
  size_t inSize = sizeof(leaf);
  return Pack(&chain.descs[0], out, &outSize, &leaf, &inSize, 0);
}

TEST(Packer, NestingIsLimitedTo32Levels) {
  EXPECT_EQ(PackChain(32), 0);
  EXPECT_EQ(PackChain(33), kPackTooDeep);
}

struct Wide {
  uint64_t big;
  int16_t small;
};
constexpr MetaEntry kWideEntries[] = {
    Field("big", MetaType::BigUInt, offsetof(Wide, big), 8),
    Field("small", MetaType::SmallInt, offsetof(Wide, small), 2),
};
constexpr MetaDesc kWide = Struct("Wide", sizeof(Wide), kWideEntries);

TEST(Packer, EightByteFieldIsBigEndianAndRoundTrips) {
  Wide w{1, -2};
  uint8_t out[32];
  size_t outSize = sizeof(out);
  size_t inSize = sizeof(w);
  ASSERT_EQ(Pack(&kWide, out, &outSize, &w, &inSize, 0), 0);
  const std::vector<uint8_t> expected = {0, 0, 0, 0, 0, 0, 0, 1, 0xFF, 0xFE};
  EXPECT_EQ(std::vector<uint8_t>(out, out + outSize), expected);
  EXPECT_EQ(inSize, sizeof(Wide));

  w.big = 0x0102030405060708ull;
  outSize = sizeof(out);
  inSize = sizeof(w);
  ASSERT_EQ(Pack(&kWide, out, &outSize, &w, &inSize, 0), 0);
  Wide back{};
  size_t backSize = sizeof(back);
  size_t used = outSize;
  ASSERT_EQ(Unpack(&kWide, &back, &backSize, out, &used, 0), 0);
  EXPECT_EQ(used, 10u);
  EXPECT_EQ(back.big, w.big);
  EXPECT_EQ(back.small, -2);
}

TEST(Packer, ArgumentVersionAndSpaceErrors) {
  Wide w{1, 2};
  uint8_t out[32];
  size_t outSize = sizeof(out);
  size_t inSize = sizeof(w);
  EXPECT_EQ(Pack(nullptr, out, &outSize, &w, &inSize, 0), kPackBadArgument);
  EXPECT_EQ(Pack(&kWide, nullptr, &outSize, &w, &inSize, 0), kPackBadArgument);
  EXPECT_EQ(Pack(&kWide, out, nullptr, &w, &inSize, 0), kPackBadArgument);

  outSize = sizeof(out);
  inSize = sizeof(w);
  EXPECT_EQ(Pack(&kWide, out, &outSize, &w, &inSize, 9), kPackBadVersion);
  EXPECT_EQ(outSize, 0u);
  EXPECT_EQ(inSize, 0u);

  outSize = 9;  // one byte short
  inSize = sizeof(w);
  EXPECT_EQ(Pack(&kWide, out, &outSize, &w, &inSize, 0), kPackNoSpace);
  EXPECT_EQ(outSize, 0u);

  outSize = sizeof(out);
  inSize = 4;  // record cut inside the first field
  EXPECT_EQ(Pack(&kWide, out, &outSize, &w, &inSize, 0), kPackShortRecord);

  Wide back{};
  size_t backSize = sizeof(back);
  size_t inLen = 9;
  const uint8_t bytes[10] = {};
  EXPECT_EQ(Unpack(&kWide, &back, &backSize, bytes, &inLen, 0), kPackNoSpace);
  EXPECT_EQ(backSize, 0u);
  EXPECT_EQ(inLen, 0u);
}

// A version-11 field with a default, in a description whose versions are 10..11.
struct Versioned {
  int32_t a;
  char tag[8];
};
constexpr char kTagDefault[8] = "dflt";
constexpr MetaEntry kVersionedEntries[] = {
    Field("a", MetaType::Int, offsetof(Versioned, a), 4),
    [] {
      MetaEntry e = WithDefault(Text("tag", offsetof(Versioned, tag), 8), kTagDefault, sizeof(kTagDefault));
      e.version = 11;
      return e;
    }(),
};
constexpr MetaDesc kVersioned = [] {
  MetaDesc d = Struct("Versioned", sizeof(Versioned), kVersionedEntries);
  d.currentVersion = 11;
  return d;
}();

TEST(Packer, FieldsAboveTheVersionAreLeftOutAndDefaulted) {
  Versioned v{5, "abc"};
  uint8_t out[32];
  size_t outSize = sizeof(out);
  size_t inSize = sizeof(v);
  ASSERT_EQ(Pack(&kVersioned, out, &outSize, &v, &inSize, 10), 0);
  EXPECT_EQ(outSize, 4u);
  outSize = sizeof(out);
  inSize = sizeof(v);
  ASSERT_EQ(Pack(&kVersioned, out, &outSize, &v, &inSize, 0), 0);
  EXPECT_EQ(outSize, 4u + 4u + 4u);

  const uint8_t v10[] = {0, 0, 0, 9};
  Versioned back{};
  size_t backSize = sizeof(back);
  size_t len = sizeof(v10);
  ASSERT_EQ(Unpack(&kVersioned, &back, &backSize, v10, &len, 10), 0);
  EXPECT_EQ(back.a, 9);
  EXPECT_STREQ(back.tag, "dflt");

  // A record too short for the default fails instead of writing past it.
  backSize = offsetof(Versioned, tag) + 4;
  len = sizeof(v10);
  EXPECT_EQ(Unpack(&kVersioned, &back, &backSize, v10, &len, 10), kPackShortRecord);
}

// A union with sparse ids over 16 members: found by halving search.
struct Sparse {
  int32_t sel;
  int32_t value;
};
struct SparseMembers {
  MetaEntry entries[16];
  MetaDesc desc;
  MetaEntry outer[2];
  MetaDesc outerDesc;
  SparseMembers() {
    for (int i = 0; i < 16; ++i) entries[i] = Member(Field("m", MetaType::Int, 0, 4), 10 * i + 3);
    desc = Union("Sparse", 4, entries, 3, 153);
    outer[0] = Field("sel", MetaType::Int, offsetof(Sparse, sel), 4);
    outer[1] = Selected("u", &desc, offsetof(Sparse, value), 4, Ref(4, offsetof(Sparse, sel)));
    outerDesc = Struct("Outer", sizeof(Sparse), outer);
  }
};

TEST(Packer, UnionMembersAreFoundOrLeftOut) {
  SparseMembers m;
  EXPECT_EQ(FindUnionMember(m.desc, 133), &m.entries[13]);
  EXPECT_EQ(FindUnionMember(m.desc, 3), &m.entries[0]);
  EXPECT_EQ(FindUnionMember(m.desc, 153), &m.entries[15]);
  EXPECT_EQ(FindUnionMember(m.desc, 4), nullptr);
  EXPECT_EQ(FindUnionMember(m.desc, 200), nullptr);

  Sparse s{73, 0x11223344};
  uint8_t out[16];
  size_t outSize = sizeof(out);
  size_t inSize = sizeof(s);
  ASSERT_EQ(Pack(&m.outerDesc, out, &outSize, &s, &inSize, 0), 0);
  EXPECT_EQ(outSize, 8u);
  s.sel = 74;  // no member: nothing written for the union
  outSize = sizeof(out);
  inSize = sizeof(s);
  ASSERT_EQ(Pack(&m.outerDesc, out, &outSize, &s, &inSize, 0), 0);
  EXPECT_EQ(outSize, 4u);
}

TEST(Packer, NameIndexesAreSortedAndComplete) {
  for (const MetaLib* lib : {&QosCsLib(), &QosSsLib()}) {
    for (size_t i = 0; i + 1 < lib->descCount; ++i) {
      EXPECT_LT(std::strcmp(lib->descs[lib->nameIndex[i]]->name, lib->descs[lib->nameIndex[i + 1]]->name), 0)
          << lib->name;
    }
    for (size_t i = 0; i < lib->descCount; ++i) {
      EXPECT_EQ(FindMeta(*lib, lib->descs[i]->name), lib->descs[i]);
    }
    EXPECT_EQ(FindMeta(*lib, "NoSuchMessage"), nullptr);
  }
  int64_t value = 0;
  ASSERT_TRUE(FindMacro(QosCsLib(), "QOS_CS_MAGIC", value));
  EXPECT_EQ(value, 30066);
  EXPECT_EQ(QosCsLib().macroCount, 24u);
}

}  // namespace
}  // namespace udra::qos

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "resources/KeyOrder.h"
#include "resources/KeySort.h"

namespace udra {
namespace {

struct Span {
  uint32_t offset;
  uint32_t length;
};

// The keys laid out in one text as the catalogue holds them.
struct Laid {
  std::string text;
  std::vector<Span> spans;
  explicit Laid(const std::vector<std::string>& keys) {
    for (const std::string& key : keys) {
      spans.push_back({uint32_t(text.size()), uint32_t(key.size())});
      text += key;
      text += '|';
    }
  }
  std::vector<uint32_t> Sorted() const {
    return SortedKeyOrder(KeyTable{text.data(), spans.data(), sizeof(Span), spans.size()});
  }
};

// Positions in key order, the first of equal keys kept, by comparisons.
std::vector<uint32_t> Reference(const std::vector<std::string>& keys) {
  std::vector<uint32_t> order(keys.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return KeyLess(keys[a], keys[b]); });
  order.erase(std::unique(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return KeyEqual(keys[a], keys[b]); }),
              order.end());
  return order;
}

// Every byte value a key may hold, alone, between letters and before a
// backslash: both in ranges sorted by radix passes and in short ones.
TEST(KeySort, EveryByteValueSortsInKeyOrder) {
  std::vector<std::string> keys;
  for (int c = 1; c < 256; ++c) {
    keys.push_back(std::string(1, char(c)));
    keys.push_back("a" + std::string(1, char(c)) + "b");
    keys.push_back(std::string(1, char(c)) + "\\x");
  }
  std::mt19937 rng(5);
  std::shuffle(keys.begin(), keys.end(), rng);
  EXPECT_EQ(Laid(keys).Sorted(), Reference(keys));
  for (size_t first = 0; first + 20 <= keys.size(); first += 20) {
    const std::vector<std::string> few(keys.begin() + first, keys.begin() + first + 20);
    ASSERT_EQ(Laid(few).Sorted(), Reference(few)) << first;
  }
}

// Thousands of keys sharing prefixes that end before, at and after the
// 16-byte steps, with case-only duplicates and keys that are prefixes of
// others: the same order and the same first-of-equals as comparisons give.
TEST(KeySort, LongSharedPrefixesAndDuplicates) {
  std::mt19937 rng(99);
  const std::string alphabet = std::string("aAzZ\\_.0~") + "\x80\xB0\xFF";
  for (int round = 0; round < 6; ++round) {
    std::vector<std::string> keys;
    std::vector<std::string> prefixes;
    for (int p = 0; p < 8; ++p) {
      std::string prefix(size_t(rng() % 50), 'x');
      for (char& c : prefix) c = alphabet[rng() % alphabet.size()];
      prefixes.push_back(prefix);
    }
    for (int i = 0; i < 4000; ++i) {
      std::string key = prefixes[rng() % prefixes.size()];
      const size_t tail = rng() % 6;
      for (size_t j = 0; j < tail; ++j) key += alphabet[rng() % alphabet.size()];
      if (key.empty()) key = "k";
      keys.push_back(key);
      if (rng() % 5 == 0) {
        std::string again = key;
        for (char& c : again) c = (c >= 'a' && c <= 'z') ? char(c - 32) : (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
        keys.push_back(again);
      }
    }
    std::shuffle(keys.begin(), keys.end(), rng);
    ASSERT_EQ(Laid(keys).Sorted(), Reference(keys)) << "round " << round;
  }
}

// Catalogues large enough that two threads share the work: a spread of top
// folders (split among the buckets of one pass), a single folder holding
// nearly everything (split inside it, and among the runs still tied after
// the first window), and duplicates whose first copy must stay the one kept
// wherever the halves meet.
TEST(KeySort, LargeCataloguesSortedByTwoThreads) {
  std::mt19937 rng(2024);
  const auto build = [&](int tops, int count) {
    std::vector<std::string> keys;
    for (int i = 0; i < count; ++i) {
      std::string key = "Top" + std::to_string(rng() % tops) + "\\Region" + std::to_string(rng() % 40) +
                        "\\Set" + std::to_string(rng() % 12) + "\\file_" + std::to_string(rng() % 5000) + ".dat";
      if (rng() % 7 == 0) key[0] = 't';  // a case-only twin of another line
      keys.push_back(key);
    }
    return keys;
  };
  for (const int tops : {30, 1}) {
    const std::vector<std::string> keys = build(tops, 150000);
    ASSERT_EQ(Laid(keys).Sorted(), Reference(keys)) << tops << " top folders";
  }
}

TEST(KeySort, EmptyAndAllEqual) {
  EXPECT_TRUE(Laid({}).Sorted().empty());
  const std::vector<std::string> same(100, "Same\\Key\\Longer_Than_Sixteen");
  EXPECT_EQ(Laid(same).Sorted(), std::vector<uint32_t>{0});
}

}  // namespace
}  // namespace udra

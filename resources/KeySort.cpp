#include "resources/KeySort.h"

#include <array>
#include <cstring>

#include "platform/Sync.h"
#include "resources/KeyOrder.h"

namespace udra {
namespace {

// The sort works on 16 bytes of each key at a time, held in two words, first
// byte highest, with ASCII letters folded to lower case and 0 past the key's
// end (keys hold no zero byte). Words are compared through the key order of
// their first differing byte, and the radix passes visit byte values in key
// order, so the folded bytes never need ranking one by one.
constexpr size_t kWindow = 16;
// Ranges this short are sorted by insertion instead of another radix pass.
constexpr size_t kSmallRange = 32;
// Entries fetched ahead while reading scattered memory.
constexpr size_t kAhead = 16;
constexpr uint32_t kDropped = 0xFFFFFFFFu;
// Work on at least this many items is shared with a second thread.
constexpr size_t kSplitItems = size_t(1) << 16;

struct Item {
  uint64_t high = 0;
  uint64_t low = 0;
  uint32_t line = 0;    // the key's position; kDropped for a repeated key
  uint32_t length = 0;  // the key's length in bytes
};

// A byte value's place in the key order, 0 for "the key has ended".
constexpr std::array<uint16_t, 256> MakeWindowRanks() {
  std::array<uint16_t, 256> rank{};
  for (int c = 1; c < 256; ++c) rank[c] = kKeyByteRank[c];
  rank[0] = 0;
  return rank;
}

// The byte values in key order, "ended" (0) first; upper-case letters last
// (folded bytes never hold them).
constexpr std::array<uint8_t, 256> MakeVisitOrder() {
  std::array<uint8_t, 256> order{};
  int n = 0;
  order[n++] = 0;
  for (int r = 1; r < 256; ++r)
    for (int c = 1; c < 256; ++c)
      if (kKeyByteRank[c] == r && !(c >= 'A' && c <= 'Z')) order[n++] = static_cast<uint8_t>(c);
  for (int c = 'A'; c <= 'Z'; ++c) order[n++] = static_cast<uint8_t>(c);
  return order;
}

constexpr std::array<uint16_t, 256> kWindowRank = MakeWindowRanks();
constexpr std::array<uint8_t, 256> kVisitOrder = MakeVisitOrder();

// Eight bytes, first byte highest, with 'A'-'Z' folded to lower case.
inline uint64_t FoldedWord(const unsigned char* bytes) {
  uint64_t word = 0;
  for (int j = 0; j < 8; ++j) word = word << 8 | bytes[j];
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  const uint64_t low7 = word & ~kHigh;
  const uint64_t atLeastA = low7 + (0x80 - 'A') * kOnes;
  const uint64_t aboveZ = low7 + (0x80 - 'Z' - 1) * kOnes;
  const uint64_t upper = atLeastA & ~aboveZ & ~word & kHigh;
  return word | upper >> 2;  // 0x80 >> 2 is the case bit 0x20
}

void Pack(const KeyTable& keys, size_t i, size_t depth, uint64_t& high, uint64_t& low) {
  const auto* key = reinterpret_cast<const unsigned char*>(keys.text) + keys.Offset(i);
  const size_t length = keys.Length(i);
  if (depth + kWindow <= length) {
    high = FoldedWord(key + depth);
    low = FoldedWord(key + depth + 8);
    return;
  }
  unsigned char window[kWindow] = {};
  if (depth < length) std::memcpy(window, key + depth, length - depth);
  high = FoldedWord(window);
  low = FoldedWord(window + 8);
}

// Key order of two words of folded bytes.
inline bool WordLess(uint64_t a, uint64_t b) {
  const uint64_t differ = a ^ b;
  const unsigned shift = 56 - (unsigned(__builtin_clzll(differ)) & ~7u);
  return kWindowRank[(a >> shift) & 0xFF] < kWindowRank[(b >> shift) & 0xFF];
}

inline bool WindowLess(const Item& a, const Item& b) {
  if (a.high != b.high) return WordLess(a.high, b.high);
  return a.low != b.low && WordLess(a.low, b.low);
}
inline bool SameWindow(const Item& a, const Item& b) { return a.high == b.high && a.low == b.low; }

inline unsigned Digit(const Item& item, unsigned byte) {
  return byte < 8 ? unsigned(item.high >> (56 - 8 * byte)) & 0xFF : unsigned(item.low >> (56 - 8 * (byte - 8))) & 0xFF;
}

void InsertionSort(Item* a, size_t n) {
  for (size_t i = 1; i < n; ++i) {
    const Item x = a[i];
    size_t j = i;
    for (; j > 0 && WindowLess(x, a[j - 1]); --j) a[j] = a[j - 1];
    a[j] = x;
  }
}

// Calls `work(from, to)` over [0, n): two halves on two threads when there
// is enough work.
template <typename Work>
void ForHalves(size_t n, const Work& work) {
  if (n < kSplitItems) {
    work(size_t(0), n);
    return;
  }
  platform::RunBoth([&] { work(size_t(0), n / 2); }, [&] { work(n / 2, n); });
}

// Where to cut `count` pieces of work of the given sizes into two halves of
// about the same total; `count` when one piece holds most of it, which is
// better split inside.
template <typename SizeOf>
size_t MiddleOf(size_t count, size_t total, SizeOf sizeOf) {
  size_t sum = 0;
  for (size_t k = 0; k < count; ++k) {
    const size_t size = sizeOf(k);
    if (size > total / 4 * 3) return count;
    sum += size;
    if (sum >= total / 2) return k + 1;
  }
  return count;
}

void RadixSort(Item* data, Item* other, size_t n, unsigned guess, bool intoOther, bool split);

// Sorts the buckets of one radix pass, visit positions [first, last), that
// lie at `other` from item `begin` on.
void SortBuckets(Item* data, Item* other, const uint32_t* count, size_t first, size_t last, size_t begin,
                 unsigned byte, bool intoOther, bool split) {
  for (size_t v = first; v < last; ++v) {
    const size_t size = count[kVisitOrder[v]];
    if (size > 1) {
      RadixSort(other + begin, data + begin, size, byte + 1, !intoOther, split);
    } else if (size == 1 && !intoOther) {
      data[begin] = other[begin];
    }
    begin += size;
  }
}

// Stable most-significant-byte-first radix sort of the items at `data` by
// their windows, the result left at `data` or, when `intoOther`, at `other`
// (each pass scatters into the other buffer, so no pass copies back).
// The bytes that all items of a range share are skipped in one step (found
// from the bits in which any item differs from the first), so a long common
// prefix costs one pass, not one per byte. The pass that finds them also
// counts the byte after the parent's, the usual next split. Recursion is at
// most 17 deep. With `split`, a large range's buckets are sorted by two
// threads, half of them each.
void RadixSort(Item* data, Item* other, size_t n, unsigned guess, bool intoOther, bool split) {
  const auto finish = [&] {
    if (intoOther) std::memcpy(static_cast<void*>(other), data, n * sizeof(Item));
  };
  if (n <= kSmallRange) {
    InsertionSort(data, n);
    finish();
    return;
  }
  uint32_t count[256] = {};
  uint64_t highBits = 0;
  uint64_t lowBits = 0;
  const unsigned counted = guess < kWindow ? guess : 0;
  for (size_t i = 0; i < n; ++i) {
    highBits |= data[i].high ^ data[0].high;
    lowBits |= data[i].low ^ data[0].low;
    ++count[Digit(data[i], counted)];
  }
  if ((highBits | lowBits) == 0) {  // all tied in this window
    finish();
    return;
  }
  const unsigned byte = highBits != 0 ? unsigned(__builtin_clzll(highBits)) / 8
                                      : 8 + unsigned(__builtin_clzll(lowBits)) / 8;
  if (byte != counted) {
    std::memset(count, 0, sizeof count);
    for (size_t i = 0; i < n; ++i) ++count[Digit(data[i], byte)];
  }
  uint32_t next[256];
  uint32_t sum = 0;
  for (const uint8_t d : kVisitOrder) {
    next[d] = sum;
    sum += count[d];
  }
  for (size_t i = 0; i < n; ++i) other[next[Digit(data[i], byte)]++] = data[i];
  // The buckets now lie at `other`; each is sorted from there into the
  // buffer the caller wants.
  const size_t buckets = kVisitOrder.size();
  const size_t middle =
      split && n >= kSplitItems ? MiddleOf(buckets, n, [&](size_t v) { return size_t(count[kVisitOrder[v]]); })
                                : buckets;
  if (middle == buckets) {
    SortBuckets(data, other, count, 0, buckets, 0, byte, intoOther, split);
    return;
  }
  size_t begin = 0;
  for (size_t v = 0; v < middle; ++v) begin += count[kVisitOrder[v]];
  platform::RunBoth([&] { SortBuckets(data, other, count, 0, middle, 0, byte, intoOther, false); },
             [&] { SortBuckets(data, other, count, middle, buckets, begin, byte, intoOther, false); });
}

struct Range {
  size_t begin, end;
};

// Calls `work(half, first, last, split)` for the runs [first, last) of
// `runs`: halves 0 and 1 by item count on two threads when there is enough
// work, all as half 0 here otherwise. When one run holds most of the items
// the runs stay together and `split` asks `work` to share that run's own
// sort instead.
template <typename Work>
void ForRuns(const std::vector<Range>& runs, Work work) {
  size_t total = 0;
  for (const Range& run : runs) total += run.end - run.begin;
  const size_t middle = total >= kSplitItems
                            ? MiddleOf(runs.size(), total, [&](size_t k) { return runs[k].end - runs[k].begin; })
                            : runs.size();
  if (middle == runs.size()) {
    work(0, size_t(0), runs.size(), total >= kSplitItems);
    return;
  }
  platform::RunBoth([&] { work(0, size_t(0), middle, false); }, [&] { work(1, middle, runs.size(), false); });
}

}  // namespace

// Window by window: every range of keys still tied after one window is sorted
// again by the next 16 bytes. The next window of all tied keys is read in one
// sweep in position order (a sweep through the text, where reading it per
// item in sorted order would cost a scattered read per key and window) and
// then handed to the items. Every sort is stable and the items start in
// position order, so equal keys stay in position order and the first is kept.
std::vector<uint32_t> SortedKeyOrder(const KeyTable& keys) {
  const size_t n = keys.count;
  std::vector<Item> items(n);
  const auto first = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      Item& item = items[i];
      Pack(keys, i, 0, item.high, item.low);
      item.line = static_cast<uint32_t>(i);
      item.length = keys.Length(i);
    }
  };
  ForHalves(n, first);
  // Scratch space of the radix passes; between windows it holds each tied
  // key's next window by position.
  std::vector<Item> scratch(n);
  std::vector<uint8_t> tied;
  std::vector<Range> runs{{0, n}};
  std::vector<std::vector<Range>> next(2);  // the runs still tied, found by each half
  size_t dropped[2] = {0, 0};
  for (size_t depth = 0; !runs.empty(); depth += kWindow) {
    if (depth > 0) {
      tied.assign(n, 0);
      for (const Range& run : runs)
        for (size_t i = run.begin; i < run.end; ++i) tied[items[i].line] = 1;
      const auto pack = [&](size_t from, size_t to) {
        for (size_t line = from; line < to; ++line)
          if (tied[line]) Pack(keys, line, depth, scratch[line].high, scratch[line].low);
      };
      ForHalves(n, pack);
      // Every tied item takes its next window before any sort below uses
      // the scratch space again.
      ForRuns(runs, [&](int, size_t first, size_t last, bool) {
        for (size_t r = first; r < last; ++r) {
          for (size_t i = runs[r].begin; i < runs[r].end; ++i) {
            if (i + kAhead < runs[r].end) __builtin_prefetch(&scratch[items[i + kAhead].line]);
            const Item& packed = scratch[items[i].line];
            items[i].high = packed.high;
            items[i].low = packed.low;
          }
        }
      });
    }
    // Each half sorts its runs and notes the ranges still tied, in order:
    // the first half's before the second's.
    ForRuns(runs, [&](int half, size_t first, size_t last, bool split) {
      std::vector<Range>& tiedRuns = next[half];
      size_t& droppedHere = dropped[half];
      tiedRuns.clear();
      for (size_t r = first; r < last; ++r) {
        const Range& run = runs[r];
        RadixSort(items.data() + run.begin, scratch.data() + run.begin, run.end - run.begin, 0, false, split);
        for (size_t a = run.begin; a < run.end;) {
          size_t b = a + 1;
          bool ended = items[a].length <= depth + kWindow;
          for (; b < run.end && SameWindow(items[a], items[b]); ++b)
            ended = ended && items[b].length <= depth + kWindow;
          if (b - a > 1) {
            if (ended) {
              // Every key of the range ends inside this window: all are equal.
              for (size_t i = a + 1; i < b; ++i) items[i].line = kDropped;
              droppedHere += b - a - 1;
            } else {
              tiedRuns.push_back({a, b});
            }
          }
          a = b;
        }
      }
    });
    runs.swap(next[0]);
    runs.insert(runs.end(), next[1].begin(), next[1].end());
    next[0].clear();
    next[1].clear();
  }
  std::vector<uint32_t> order;
  order.reserve(n - dropped[0] - dropped[1]);
  for (const Item& item : items)
    if (item.line != kDropped) order.push_back(item.line);
  return order;
}

}  // namespace udra

#include "resources/FileList.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_set>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Sync.h"
#include "resources/KeyOrder.h"
#include "resources/KeySort.h"
#include "resources/PathRules.h"
#include "resources/UrlEncode.h"
#include "util/Md5.h"

namespace udra {
namespace {

constexpr int kNameColumn = 0;
constexpr int kSizeColumn = 1;
constexpr int kPackedSizeColumn = 2;
constexpr int kDigestColumn = 3;
constexpr int kPackedDigestColumn = 4;
constexpr int kUrlFolderColumn = 5;
constexpr int kPackageColumn = 6;  // and every later column

inline bool IsLineTrim(char c) {
  return c == '\\' || c == '/' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

inline bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// _atoi64 read of a column, truncated to 32 bits: leading white space and a
// sign accepted, digits up to the first non-digit, no digits gives 0. Values
// beyond 64 bits wrap rather than saturate.
int32_t ParseInt(const char* p, const char* end) {
  while (p < end && IsCSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  uint64_t value = 0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) value = value * 10 + uint64_t(*p - '0');
  if (negative) value = 0 - value;
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// FNV-1a over the key with ASCII letters folded, so keys that KeyEqual calls
// equal hash alike.
uint64_t HashKey(std::string_view key) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (char c : key) {
    const unsigned char folded = (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A'))
                                                         : static_cast<unsigned char>(c);
    hash = (hash ^ folded) * 0x100000001b3ull;
  }
  return hash ^ (hash >> 29);
}

// The ANSI text in UTF-8, one character at a time; a byte that does not
// convert (alone or as the start of a two-byte character) is kept raw.
std::string AnsiToUtf8Lenient(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size() * 2);
  for (size_t i = 0; i < ansi.size();) {
    const size_t n = PathCharLength(ansi, i);
    const std::string converted = platform::AnsiToUtf8(ansi.substr(i, n));
    if (!converted.empty()) {
      out += converted;
      i += n;
    } else {
      out += ansi[i];
      ++i;
    }
  }
  return out;
}

// A key's home slot: its 32-bit hash scaled to the table's size, so the
// table need not be a power of two.
inline size_t HomeSlot(uint32_t hash, size_t capacity) {
  return static_cast<size_t>((uint64_t(hash) * capacity) >> 32);
}

}  // namespace

bool FileList::load(const std::string& filePath) {
  clear();
  std::string bytes;
  if (!platform::ReadWholeFile(filePath, bytes)) return false;
  return LoadFromBuffer(std::move(bytes));
}

bool FileList::LoadFromBuffer(std::string bytes) {
  clear();
  // Spans are 32-bit offsets; a catalogue of 4 GiB or more is refused.
  if (bytes.size() >= std::numeric_limits<uint32_t>::max()) {
    digest_ = Md5::HexDigest(bytes.data(), bytes.size());
    return false;
  }
  text_ = std::move(bytes);
  // The digest is computed on a second thread while this one parses: both
  // only read the text.
  bool parsed = false;
  std::string digest;
  platform::RunBoth(
      [this, &parsed] {
        parsed = Parse();
        BuildIndex();
      },
      [this, &digest] { digest = Md5::HexDigest(text_.data(), text_.size()); });
  digest_ = std::move(digest);
  return parsed;
}

void FileList::TakeLoaded(FileList& loaded) {
  clear();
  text_.swap(loaded.text_);
  records_.swap(loaded.records_);
  slots_.swap(loaded.slots_);
  digest_.swap(loaded.digest_);
  inKeyOrder_ = loaded.inKeyOrder_;
  loaded.clear();
}

void FileList::clear() {
  ++generation_;
  text_.clear();
  text_.shrink_to_fit();
  records_.clear();
  records_.shrink_to_fit();
  slots_.clear();
  slots_.shrink_to_fit();
  hashes_.clear();
  hashes_.shrink_to_fit();
  digest_.clear();
}

bool FileList::Parse() {
  const char* text = text_.data();
  const uint32_t size = static_cast<uint32_t>(text_.size());
  // Lines end at '\n'; runs of line breaks give no empty lines. A zero byte
  // cannot be part of a catalogue text: the load fails at that line, keeping
  // the lines before it, instead of silently ignoring the rest of the file.
  size_t lines = 1;
  for (const char* p = text; (p = static_cast<const char*>(std::memchr(p, '\n', size - (p - text)))) != nullptr; ++p) {
    ++lines;
  }
  records_.reserve(lines);
  hashes_.reserve(lines);
  inKeyOrder_ = true;
  uint32_t pos = 0;
  while (pos < size) {
    if (text[pos] == '\n') {
      ++pos;
      continue;
    }
    const void* newline = std::memchr(text + pos, '\n', size - pos);
    const uint32_t end = newline ? static_cast<uint32_t>(static_cast<const char*>(newline) - text) : size;
    if (std::memchr(text + pos, '\0', end - pos) != nullptr) return false;
    if (!ParseLine(pos, end)) return false;
    pos = end;
  }
  return true;
}

bool FileList::ParseLine(uint32_t begin, uint32_t end) {
  const char* text = text_.data();
  while (begin < end && IsLineTrim(text[begin])) ++begin;
  while (end > begin && IsLineTrim(text[end - 1])) --end;
  if (begin == end) return false;

  Record record;
  int column = 0;
  uint32_t pos = begin;
  while (pos < end) {
    if (text[pos] == '|') {  // runs of separators: an empty column cannot be written
      ++pos;
      continue;
    }
    const void* bar = std::memchr(text + pos, '|', end - pos);
    const uint32_t pieceEnd = bar ? static_cast<uint32_t>(static_cast<const char*>(bar) - text) : end;
    uint32_t b = pos;
    uint32_t e = pieceEnd;
    while (b < e && IsLineTrim(text[b])) ++b;
    while (e > b && IsLineTrim(text[e - 1])) --e;
    const Span piece{b, e - b};
    switch (column) {
      case kNameColumn: record.name = piece; break;
      case kSizeColumn: record.size = ParseInt(text + b, text + e); break;
      case kPackedSizeColumn: record.packedSize = ParseInt(text + b, text + e); break;
      case kDigestColumn: record.digest = piece; break;
      case kPackedDigestColumn: record.packedDigest = piece; break;
      case kUrlFolderColumn: record.urlFolder = piece; break;
      default:
        // ":" is the file's marker for "no package".
        record.packageName = (piece.length == 1 && text[b] == ':') ? Span{b, 0} : piece;
        break;
    }
    if (column < kPackageColumn) ++column;
    pos = pieceEnd;
  }
  // A key no lookup can name is not kept: empty names, and names of
  // kKeyLimit bytes or more (lookups refuse such keys rather than cut them).
  if (record.name.length == 0 || record.name.length >= kKeyLimit) return true;
  // Whether the lines come in strictly ascending key order is seen here,
  // while both keys are in the cache; such a catalogue needs no sort.
  if (inKeyOrder_ && !records_.empty() && !KeyLess(Text(records_.back().name), Text(record.name))) {
    inKeyOrder_ = false;
  }
  records_.push_back(record);
  hashes_.push_back(static_cast<uint32_t>(HashKey(Text(record.name))));
  return true;
}

void FileList::BuildIndex() {
  if (!inKeyOrder_) SortRecords();
  BuildHashIndex();
  hashes_.clear();
  hashes_.shrink_to_fit();
}

// The records in key order, one per key: the first line of equal keys is kept.
void FileList::SortRecords() {
  if (records_.empty()) return;
  const KeyTable keys{text_.data(), &records_.front().name, sizeof(Record), records_.size()};
  const std::vector<uint32_t> order = SortedKeyOrder(keys);
  std::vector<Record> sorted;
  std::vector<uint32_t> sortedHashes;
  sorted.reserve(order.size());
  sortedHashes.reserve(order.size());
  constexpr size_t kAhead = 16;  // records fetched ahead of the gather
  for (size_t i = 0; i < order.size(); ++i) {
    if (i + kAhead < order.size()) {
      __builtin_prefetch(&records_[order[i + kAhead]]);
      __builtin_prefetch(&hashes_[order[i + kAhead]]);
    }
    sorted.push_back(records_[order[i]]);
    sortedHashes.push_back(hashes_[order[i]]);
  }
  records_.swap(sorted);
  hashes_.swap(sortedHashes);
}

void FileList::BuildHashIndex() {
  // One and a half slots per key (at least 16): two thirds full, short probe
  // runs, and 6 bytes per entry whatever the count.
  const size_t capacity = std::max<size_t>(16, records_.size() + records_.size() / 2);
  slots_.assign(capacity, 0);
  // The keys were hashed during the parse, while their text was in the
  // cache. The table is far larger than the caches: the home slots of a
  // batch of keys are fetched ahead, then the keys are placed.
  constexpr size_t kBatch = 16;
  size_t home[kBatch];
  for (size_t first = 0; first < records_.size(); first += kBatch) {
    const size_t count = std::min(kBatch, records_.size() - first);
    for (size_t j = 0; j < count; ++j) {
      home[j] = HomeSlot(hashes_[first + j], capacity);
      __builtin_prefetch(&slots_[home[j]], 1);
    }
    for (size_t j = 0; j < count; ++j) {
      size_t slot = home[j];
      while (slots_[slot] != 0) slot = slot + 1 == capacity ? 0 : slot + 1;
      slots_[slot] = static_cast<uint32_t>(first + j + 1);
    }
  }
}

size_t FileList::memoryBytes() const {
  return text_.capacity() + records_.capacity() * sizeof(Record) + slots_.capacity() * sizeof(uint32_t);
}

bool FileList::FindKey(std::string_view path, std::string_view& key, size_t& index) const {
  if (!CatalogueKey(path, key) || slots_.empty()) return false;
  const size_t capacity = slots_.size();
  for (size_t slot = HomeSlot(static_cast<uint32_t>(HashKey(key)), capacity); slots_[slot] != 0;
       slot = slot + 1 == capacity ? 0 : slot + 1) {
    const size_t candidate = slots_[slot] - 1;
    if (KeyEqual(Text(records_[candidate].name), key)) {
      index = candidate;
      return true;
    }
  }
  return false;
}

FileListEntry FileList::EntryAt(size_t index) const {
  const Record& r = records_[index];
  FileListEntry entry;
  entry.name = Text(r.name);
  entry.size = r.size;
  entry.packedSize = r.packedSize;
  entry.digest = Text(r.digest);
  entry.packedDigest = Text(r.packedDigest);
  entry.urlFolder = Text(r.urlFolder);
  entry.packageName = Text(r.packageName);
  return entry;
}

bool FileList::IsBelow(const Record& record, std::string_view folderKey) const {
  const std::string_view name = Text(record.name);
  return name.size() > folderKey.size() && name[folderKey.size()] == '\\' &&
         std::memcmp(name.data(), folderKey.data(), folderKey.size()) == 0;
}

bool FileList::find(std::string_view path, FileListEntry& entry) const {
  std::string_view key;
  size_t index;
  if (!FindKey(path, key, index)) return false;
  entry = EntryAt(index);
  return true;
}

bool FileList::findFrom(std::string_view key, size_t& cursor, FileListEntry& entry) const {
  size_t index = cursor;
  std::string_view found;
  if (index >= records_.size() || !KeyEqual(Text(records_[index].name), key)) {
    if (!FindKey(key, found, index)) return false;
  }
  entry = EntryAt(index);
  cursor = index + 1;
  return true;
}

bool FileList::contains(std::string_view path) const {
  std::string_view key;
  size_t index;
  return FindKey(path, key, index);
}

bool FileList::isFolder(std::string_view path) const {
  FileListEntry entry;
  return find(path, entry) && entry.size == -1;
}

bool FileList::size(std::string_view path, int32_t& out) const {
  FileListEntry entry;
  if (!find(path, entry)) return false;
  out = entry.size;
  return true;
}

bool FileList::packedSize(std::string_view path, int32_t& out) const {
  FileListEntry entry;
  if (!find(path, entry)) return false;
  out = entry.packedSize;
  return true;
}

bool FileList::digest(std::string_view path, std::string& out) const {
  FileListEntry entry;
  if (!find(path, entry)) return false;
  out.assign(entry.digest);
  return true;
}

bool FileList::packedDigest(std::string_view path, std::string& out) const {
  FileListEntry entry;
  if (!find(path, entry)) return false;
  out.assign(entry.packedDigest);
  return true;
}

std::string FileList::packageName(std::string_view path) const {
  FileListEntry entry;
  if (!find(path, entry)) return std::string();
  return std::string(entry.packageName);
}

bool FileList::inPackage(std::string_view path) const {
  FileListEntry entry;
  return find(path, entry) && !entry.packageName.empty();
}

bool FileList::downloadPath(std::string_view path, std::string& out) const {
  std::string_view key;
  size_t index;
  if (!FindKey(path, key, index)) return false;
  const FileListEntry entry = EntryAt(index);
  const std::string_view name = entry.packageName.empty() ? key : entry.packageName;
  out.clear();
  if (!entry.urlFolder.empty()) {
    out.append(entry.urlFolder);
    out.push_back('/');
  }
  out.append(name);
  // Separators become slashes; the second byte of a two-byte character may
  // be 0x5C and stays.
  for (size_t i = 0; i < out.size();) {
    const size_t n = PathCharLength(out, i);
    if (n == 1 && out[i] == '\\') out[i] = '/';
    i += n;
  }
  return true;
}

void FileList::filesBelow(std::string_view folder, std::vector<std::string>& list) const {
  ForEachBelow(folder, [&list](const FileListEntry& e) {
    if (e.size != -1) list.emplace_back(e.name);
  });
}

void FileList::entriesBelow(std::string_view folder, std::vector<std::string>& list) const {
  ForEachBelow(folder, [&list](const FileListEntry& e) { list.emplace_back(e.name); });
}

int64_t FileList::packedTotal(std::string_view folder) const {
  int64_t total = 0;
  std::unordered_set<std::string_view> packages;
  ForEachBelow(folder, [&](const FileListEntry& e) {
    if (e.size == -1) return;
    if (!e.packageName.empty() && !packages.insert(e.packageName).second) return;
    total += e.packedSize;
  });
  return total;
}

std::string FileList::EncodedUrl(const std::string& urlRoot, std::string_view path) const {
  std::string downloadName;
  if (!downloadPath(path, downloadName)) return std::string();
  std::string url;
  if (urlRoot.empty()) {
    url = downloadName;
  } else if (urlRoot.back() == '/') {
    url = urlRoot + downloadName;
  } else {
    url = urlRoot + "/" + downloadName;
  }
  std::string utf8 = platform::AnsiToUtf8(url);
  // A byte the code page cannot convert (a damaged or foreign name) would
  // leave no URL at all. Convert character by character instead and keep
  // such a byte as it is: the encoder escapes every byte above 'z', so it
  // goes out percent-encoded, and the URL still names the file's bytes.
  if (utf8.empty() && !url.empty()) utf8 = AnsiToUtf8Lenient(url);
  return CURLEncode().Encode(utf8);
}

}  // namespace udra

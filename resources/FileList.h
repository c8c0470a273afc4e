// The file catalogue: every file the game may ask for, read once from
// "FileList.dat" and unchanged afterwards.
//
// The catalogue keeps the file's bytes and refers into them, so loading does
// no per-line allocation. One pass parses the lines and notes whether they
// already come in key order; only a catalogue that does not is sorted (for
// folder walks). The entries are then indexed by a hash of their case-folded
// keys (for lookups). The digest of the bytes is computed on a second thread
// during the parse. Lookups take any path and apply
// CatalogueKey first, so they are case-insensitive and ignore outer
// separators, blanks and quotes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace udra {

// One catalogue entry. The texts refer into the catalogue and stay valid until
// the next load or clear.
struct FileListEntry {
  std::string_view name;
  int32_t size = 0;  // -1 marks a folder
  int32_t packedSize = 0;
  std::string_view digest;
  std::string_view packedDigest;
  std::string_view urlFolder;
  std::string_view packageName;  // empty when the file is stored on its own
};

class FileList {
 public:
  FileList() = default;
  FileList(const FileList&) = delete;
  FileList& operator=(const FileList&) = delete;

  // Reads and parses a catalogue file; true when the whole file was read and
  // every line parsed. A failed parse keeps the entries of the lines before
  // the failing one.
  bool load(const std::string& filePath);
  // The same for catalogue bytes already in memory.
  bool LoadFromBuffer(std::string bytes);
  // Takes what `loaded` holds (its last load), leaving it empty; like a load,
  // it changes the generation.
  void TakeLoaded(FileList& loaded);
  void clear();

  // MD5 of the raw bytes of the last load, 32 upper-case hex digits.
  const std::string& fileListDigest() const { return digest_; }
  // Changes with every load and clear: what was derived from the entries
  // (such as a folder's download names) holds while it stays the same.
  uint64_t generation() const { return generation_; }
  size_t entryCount() const { return records_.size(); }
  // Bytes held for the catalogue: its text, entries and index.
  size_t memoryBytes() const;

  bool find(std::string_view path, FileListEntry& entry) const;
  // As find for a key (no path rules applied), trying the entry at `cursor`
  // first and leaving `cursor` after the entry found: keys looked up in an
  // order close to the catalogue's touch memory next to the last one
  // instead of a random slot of the index.
  bool findFrom(std::string_view key, size_t& cursor, FileListEntry& entry) const;
  bool contains(std::string_view path) const;
  bool isFolder(std::string_view path) const;
  bool size(std::string_view path, int32_t& out) const;
  bool packedSize(std::string_view path, int32_t& out) const;
  bool digest(std::string_view path, std::string& out) const;
  bool packedDigest(std::string_view path, std::string& out) const;
  std::string packageName(std::string_view path) const;
  bool inPackage(std::string_view path) const;
  // urlFolder "/" (packageName or the caller's key), backslashes as slashes.
  bool downloadPath(std::string_view path, std::string& out) const;

  // Keys of the entries below a folder, all depths, in key order. The folder
  // is found case-insensitively; the entries below it only when their keys
  // begin with the folder as the caller spells it.
  void filesBelow(std::string_view folder, std::vector<std::string>& list) const;  // files only
  void entriesBelow(std::string_view folder, std::vector<std::string>& list) const;
  // Sum of packedSize over the files below a folder; files sharing a package
  // count that package once (the first met in key order).
  int64_t packedTotal(std::string_view folder) const;

  // The download URL of a key: urlRoot joined with downloadPath, converted
  // from the ANSI code page to UTF-8 and percent-encoded. Empty when the key is
  // not catalogued.
  std::string EncodedUrl(const std::string& urlRoot, std::string_view path) const;

  // Visits every entry in key order.
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (size_t i = 0; i < records_.size(); ++i) visit(EntryAt(i));
  }

  // Visits the entries below a folder in key order (see entriesBelow).
  template <typename Visit>
  void ForEachBelow(std::string_view folder, Visit visit) const {
    std::string_view key;
    size_t index;
    if (!FindKey(folder, key, index)) return;
    for (size_t i = index + 1; i < records_.size() && IsBelow(records_[i], key); ++i) {
      visit(EntryAt(i));
    }
  }

 private:
  struct Span {
    uint32_t offset = 0;
    uint32_t length = 0;
  };
  struct Record {
    Span name, digest, packedDigest, urlFolder, packageName;
    int32_t size = 0;
    int32_t packedSize = 0;
  };

  bool Parse();
  bool ParseLine(uint32_t begin, uint32_t end);
  void BuildIndex();
  void SortRecords();
  void BuildHashIndex();
  bool FindKey(std::string_view path, std::string_view& key, size_t& index) const;
  bool IsBelow(const Record& record, std::string_view folderKey) const;
  std::string_view Text(Span span) const { return std::string_view(text_.data() + span.offset, span.length); }
  FileListEntry EntryAt(size_t index) const;

  std::string text_;  // the catalogue's bytes; every Span refers into it
  std::vector<Record> records_;  // in key order, one per key
  // Open-addressing table over the case-folded keys: index + 1 into
  // records_, 0 for a free slot. Exact lookups go through it; folder walks
  // use the key order of records_.
  std::vector<uint32_t> slots_;
  std::string digest_;
  // During a load only: HashKey of each record's key, parallel to records_.
  std::vector<uint32_t> hashes_;
  bool inKeyOrder_ = true;  // the parsed lines are strictly ascending keys
  uint64_t generation_ = 0;
};

}  // namespace udra

// Turning a catalogue key into the decoded bytes of its file: fetch the stored
// entry (or the package holding it) from the archive store, take the member
// out of the package, and decode the stored form.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace udra {

// What the content decoder needs of the archive store.
class IEntryReader {
 public:
  virtual ~IEntryReader() = default;
  // A handle for the entry, -1 when absent. The decoder passes 1 and 0 as the
  // store's mode and reserved arguments.
  virtual int32_t OpenEntry(const char* name, int32_t mode, int32_t reserved) = 0;
  // Stored size in bytes, -1 on failure, 0 for an empty entry.
  virtual int32_t GetEntrySize(int32_t handle) = 0;
  // Reads into `buffer`; *inoutSize is the buffer size on input and the bytes
  // delivered on output.
  virtual bool ReadEntry(int32_t handle, void* buffer, uint32_t* inoutSize) = 0;

  // Ranged reads, for stores that have them (a store of the original kind
  // has none and never sees one).
  enum class Range {
    kRead,     // exactly the bytes asked for were read
    kChanged,  // the entry behind the handle was replaced or removed since OpenEntry
    kFailed,   // anything else: an unknown or forgotten handle, bytes missing, a read error
  };
  virtual bool ReadsRanges() const { return false; }
  // Reads `size` bytes from `offset` of the entry behind `handle`.
  virtual Range ReadRange(int32_t /*handle*/, uint32_t /*offset*/, void* /*buffer*/, uint32_t /*size*/) {
    return Range::kFailed;
  }
};

class PackageCache;

// Decodes one stored entry. On input *inoutSize is the largest decoded size
// accepted; on success *out receives a new[] array owned by the caller and
// *inoutSize its length.
using EntryDecoder = std::function<bool(const char* data, int32_t length, char** out, int32_t* inoutSize)>;

struct DecodedContent {
  enum class Outcome { Bytes, Empty, Failed };
  Outcome outcome = Outcome::Failed;
  // Set with Failed when the stored bytes were read but are not what the
  // catalogue describes: they failed the check, the package holds no such
  // member, they did not decode, or decoded to another length. Not set when
  // the entry could not be read at all.
  bool damaged = false;
  // Set with Failed when a package's entry changed in the store since its
  // directory was kept: whatever was checked of the old entry no longer
  // holds for the bytes there now.
  bool changed = false;
  std::unique_ptr<char[]> data;  // `size` bytes when outcome is Bytes
  uint32_t size = 0;
};

// Decodes the content of `key`, whose catalogued size is `catalogSize`;
// `packageName` is the catalogue's package of the key (empty when the file is
// stored on its own). Gives the decoded bytes (exactly catalogSize of them),
// the empty outcome (the stored entry or package member has length 0 and so
// has the catalogued file), or a failure; an empty entry or member for a file
// of catalogued size above 0 is a damaged one. Temporary buffers are released on every path. The store handle is
// not closed: the store's handles hold no open resources.
// `check`, when given, is called once with the whole stored entry (the
// package, for a packaged file) before anything of it is used; false fails
// the decode as damaged.
using StoredCheck = std::function<bool(const char* data, uint32_t size)>;
// `packages`, when given and the store reads ranges, keeps the directories of
// packages whose bytes passed the check (or had none to pass) between calls.
// A member of a package without a check is then read on its own: through the
// kept directory and its handle, else through a new handle with the
// directory read from the package's start; the package is never read whole.
// Without a store that reads ranges, or with a check to run, the whole
// package is read as before.
DecodedContent DecodeContent(IEntryReader& store, const EntryDecoder& decode, std::string_view key,
                             std::string_view packageName, int32_t catalogSize,
                             const StoredCheck& check = StoredCheck(), PackageCache* packages = nullptr);

}  // namespace udra

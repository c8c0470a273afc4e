// The downloading-file table the game's library reads without a lock: a
// shared memory of variable-length entries
//
//   uint32 entryLength | int32 doneBytes | int32 totalBytes | name, NUL
//
// from offset 0; an entryLength of 0 ends the table. The third field is the
// host's own: the size the file was requested with.
//
// Entries never move: a reader may keep an entry's offset. A new entry is
// written where the terminator was, a new terminator after it, and only then
// the old terminator's length word is set (a release store), so a reader
// never sees a half-written entry. doneBytes is a single aligned 32-bit
// store.
//
// Once the table is full, the entry of a download that has ended (Release)
// is given to a new name that fits in it: its name's first byte is cleared
// first, the rest rewritten, and the first byte set last, so a reader that
// checks the name at a remembered offset sees either no name or the new one
// and searches again. Entries of running downloads are never reused.
//
// A table left behind by an earlier host is taken over as it is (its
// entries keep their offsets, all of them reusable) after a bounds check of
// every entry; the first entry that fails the check becomes the end of the
// table.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/SharedMemory.h"

namespace udra::host {

class DownloadTable {
 public:
  // The library maps at most this much from offset 0 for a search.
  static constexpr uint32_t kTableBytes = 10485760;
  static constexpr uint32_t kNoEntry = 0xFFFFFFFFu;

  // Creates (or takes over) the table named "DownloadingFileInfos_" + key;
  // false with the system error in *error.
  bool Open(const std::string& instanceKey, int* error = nullptr);
  // Works on caller-provided zeroed or previously used memory (for tests).
  void Attach(uint8_t* base, uint32_t size);

  // The offset of the entry of `name` (ASCII case ignored), published now if
  // there is none; kNoEntry when the name is empty, longer than 1023 bytes
  // or the table is full and no ended download's entry fits it.
  uint32_t EntryFor(const std::string& name, int32_t totalBytes);
  // The download of the entry has ended: the entry may go to another name.
  void Release(uint32_t offset);
  void SetDone(uint32_t offset, int32_t doneBytes);
  int32_t Done(uint32_t offset) const;
  size_t entryCount() const { return index_.size(); }
  size_t reusableCount() const { return free_.size(); }

 private:
  struct Slot {
    std::string key;  // empty for an entry without a name
    uint32_t length = 0;
    bool live = false;  // a download uses it
  };

  void Adopt();
  void Rewrite(uint32_t offset, const std::string& name, int32_t totalBytes);
  uint32_t* Word(uint32_t offset) const;

  std::unique_ptr<platform::SharedMemory> memory_;
  uint8_t* base_ = nullptr;
  uint32_t size_ = 0;
  uint32_t end_ = 0;  // offset of the terminator
  std::map<std::string, uint32_t> index_;  // lower-cased name -> offset
  std::map<uint32_t, Slot> slots_;         // offset -> entry
  std::set<std::pair<uint32_t, uint32_t>> free_;  // (length, offset) of reusable entries
};

// ASCII lower-case copy (the key of names that compare without case).
std::string LowerAscii(const std::string& text);

}  // namespace udra::host

// The downloading-file table the game's library reads without a lock: a
// shared memory of variable-length entries
//
//   uint32 entryLength | int32 doneBytes | int32 totalBytes | name, NUL
//
// from offset 0; an entryLength of 0 ends the table. The third field is the
// host's own: the size the file was requested with.
//
// Entries never move and are never reused for another name: a reader may
// keep an entry's offset for ever. A new entry is written where the
// terminator was, a new terminator after it, and only then the old
// terminator's length word is set (a release store), so a reader never sees
// a half-written entry. doneBytes is a single aligned 32-bit store.
//
// A table left behind by a host that died is taken over as it is (its
// entries keep their offsets) after a bounds check of every entry; the first
// entry that fails the check becomes the end of the table.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/SharedMemory.h"

namespace udra::host {

class DownloadTable {
 public:
  // The library maps at most this much from offset 0 for a search.
  static constexpr uint32_t kTableBytes = 10485760;
  static constexpr uint32_t kNoEntry = 0xFFFFFFFFu;

  // Creates (or takes over) the table named "DownloadingFileInfos_" + key.
  bool Open(const std::string& instanceKey);
  // Works on caller-provided zeroed or previously used memory (for tests).
  void Attach(uint8_t* base, uint32_t size);

  // The offset of the entry of `name` (ASCII case ignored), published now if
  // there is none; kNoEntry when the name is empty, longer than 1023 bytes
  // or the table is full.
  uint32_t EntryFor(const std::string& name, int32_t totalBytes);
  void SetDone(uint32_t offset, int32_t doneBytes);
  int32_t Done(uint32_t offset) const;
  size_t entryCount() const { return index_.size(); }

 private:
  void Adopt();
  uint32_t* Word(uint32_t offset) const;

  std::unique_ptr<platform::SharedMemory> memory_;
  uint8_t* base_ = nullptr;
  uint32_t size_ = 0;
  uint32_t end_ = 0;  // offset of the terminator
  std::map<std::string, uint32_t> index_;  // lower-cased name -> offset
};

// ASCII lower-case copy (the key of names that compare without case).
std::string LowerAscii(const std::string& text);

}  // namespace udra::host

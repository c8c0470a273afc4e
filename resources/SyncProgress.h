// Progress figures of folder syncs, kept between GetSyncInfo calls.
//
// A folder's figure is the sum, over the distinct download names of every
// file below it in byte order, of each name's bytes done: the stored size
// when the archive store holds the name, else the downloaded count in the
// host's table; the sum stops, and the figure is incomplete, at the first
// name known to neither. Asking the store about every name on every call
// costs a store query per file of the folder; a game polls every frame. So
// the names are listed once per sync (and catalogue load), and what the
// store answered is kept:
// - a name the store holds counts with the size it gave until a completion
//   names it again;
// - a name the store does not hold is read from the host's table on each
//   call; only when the table does not know it is the store asked again (the
//   download has ended, or not started), and once the store holds it, it
//   stays settled.
// A call thus asks the store about names whose state changed, and reads the
// table for names that are being downloaded.
//
// Not thread-safe: Syncs calls it with the manager's lock held.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace udra {

class SyncProgress {
 public:
  // Folder syncs whose names and answers are kept; beyond it the least
  // recently asked is dropped (and listed again when it is asked next).
  static constexpr size_t kKeptFolders = 64;

  struct Sources {
    // True when the store holds the name; `size` is then its stored size
    // (-1 when the store does not know it: the name has no value).
    std::function<bool(const std::string& name, int32_t& size)> storedSize;
    // The host's table only: true with the bytes downloaded so far. `hint`
    // is the source's own, kept per name between calls (0 at first).
    std::function<bool(const std::string& name, int32_t& bytes, uint64_t& hint)> downloadedBytes;
  };
  using NameList = std::function<std::vector<std::string>()>;

  // A folder sync started: `names` are the distinct download names below it
  // (any order), `requested` tells those just asked of the host, which the
  // store did not hold a moment ago. `generation` is the catalogue's.
  void Begin(int32_t syncId, uint64_t generation, std::vector<std::string> names,
             const std::function<bool(const std::string&)>& requested);
  // The folder's bytes done into `done` (the partial sum when a name has no
  // value, in which case the result is false). `names` lists the download
  // names afresh when none are kept for this sync and catalogue generation.
  bool Figure(int32_t syncId, uint64_t generation, const NameList& names, const Sources& sources, int32_t& done);
  // A completion named `name`: its stored entry may have come or changed.
  void Changed(const std::string& name);

  size_t keptFolders() const { return folders_.size(); }

 private:
  enum class Known : uint8_t { Unasked, Stored, NotStored };
  struct Name {
    Known known = Known::Unasked;
    int32_t storedSize = 0;
    uint64_t tableHint = 0;
  };
  struct Folder {
    uint64_t generation = 0;
    uint64_t lastUse = 0;
    std::vector<std::string> names;  // byte order, distinct
    std::vector<Name> state;         // parallel to names
  };

  Folder& Keep(int32_t syncId, uint64_t generation, std::vector<std::string> names);

  std::map<int32_t, Folder> folders_;
  uint64_t uses_ = 0;
};

}  // namespace udra

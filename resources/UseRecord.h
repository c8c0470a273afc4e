// How often the game opens each file and whether it had to have it
// downloaded on demand; written out as "ResUseRec.db" at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace udra {

struct UseEntry {
  uint32_t count = 0;     // opens since the last save
  int64_t firstUse = 0;   // seconds since 1970 of the first open; 0 before it
  bool requested = false; // part of a download request since the last save
};

class UseRecord {
 public:
  using Clock = std::function<int64_t()>;

  // `clock` gives the current time in seconds since 1970; the platform's by
  // default.
  explicit UseRecord(Clock clock = Clock());

  void RecordUse(const std::string& path);
  void MarkRequested(const std::string& path);
  // Percentage of the opened files that were requested, truncated.
  int32_t GetRequestedPercent() const;
  // Appends every path opened at least 200 times, in map order.
  void CollectFrequent(std::vector<std::string>& list) const;

  // Writes the record to `filePath` (replacing the file) when it holds unsaved
  // changes, then empties it. False, keeping the entries and the dirty flag,
  // when the folder cannot be created or the file cannot be opened.
  bool Save(const std::string& filePath);

  bool dirty() const { return dirty_; }
  const std::map<std::string, UseEntry>& entries() const { return entries_; }

 private:
  Clock clock_;
  bool dirty_ = false;
  std::map<std::string, UseEntry> entries_;
};

}  // namespace udra

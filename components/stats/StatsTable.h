// The figures the statistics component keeps: per download name how often it
// was requested, completed, failed and cancelled, the bytes involved and the
// time completions took, plus the host's two values. Formats them as the
// summary text. Not thread-safe: the component object guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace udra::stats {

struct FileFigures {
  uint32_t requested = 0;
  uint32_t done = 0;
  uint32_t failed = 0;
  uint32_t cancelled = 0;
  int64_t requestedBytes = 0;  // sum of packed sizes of the requests
  int64_t doneBytes = 0;       // sum of the sizes the host reported on completion
  uint64_t doneMs = 0;         // sum of the times from sync start to completion
  uint32_t lastError = 0;      // error value of the latest failure
  std::string lastErrorText;   // its text, cut to kMaxErrorText bytes
};

class StatsTable {
 public:
  // Names kept one by one. Beyond this many, figures of new names go to the
  // totals only (and are counted as untracked events), so a host that reports
  // endless distinct names cannot grow the table without bound.
  static constexpr size_t kMaxNames = 4096;
  static constexpr size_t kMaxErrorText = 200;

  void Reset();
  void SetHostValue1(int32_t value) { hostValue1_ = value; }
  void SetHostValue2(int32_t value) { hostValue2_ = value; }
  void Requested(const char* name, int32_t packedSize);
  void Done(const char* name, int32_t reportedSize, uint32_t elapsedMs);
  void Failed(const char* name, int32_t reportedSize, uint32_t errorValue, const char* text);
  void Cancelled(const char* name);

  const std::map<std::string, FileFigures>& files() const { return files_; }
  const FileFigures& totals() const { return totals_; }
  uint64_t untrackedEvents() const { return untrackedEvents_; }
  int32_t hostValue1() const { return hostValue1_; }
  int32_t hostValue2() const { return hostValue2_; }

  // The summary: a header block, then one tab-separated line per name in
  // byte order. Control bytes in names and texts are written as '?', so
  // every record stays on its line.
  std::string Summary() const;

 private:
  // The figures of `name`, or null when the table is full and `name` new.
  FileFigures* Slot(const char* name);

  std::map<std::string, FileFigures> files_;
  FileFigures totals_;
  uint64_t untrackedEvents_ = 0;
  int32_t hostValue1_ = 0;
  int32_t hostValue2_ = 0;
};

}  // namespace udra::stats

// The statistics object of "UDRAStats.dll": keeps the figures of one session
// (StartStats to StopStats) and writes them to the summary file beside the
// module when the session stops.
#pragma once

#include <mutex>
#include <string>

#include "components/stats/StatsTable.h"
#include "core/IUDRAStats.h"

namespace udra::stats {

// The summary's file name, in the folder of "UDRAStats.dll".
constexpr const char kSummaryFileName[] = "UDRAStats.txt";

class UDRAStats final : public IUDRAStats {
 public:
  // `summaryPath` empty: the file beside the module (no file when the
  // module's folder cannot be found).
  explicit UDRAStats(std::string summaryPath = std::string());

  void DeletingDestructor(unsigned int flags) override;
  bool StartStats() override;
  void StopStats() override;
  void SetHostValue2(int32_t value) override;
  void SetHostValue1(int32_t value) override;
  void FileRequested(const char* name, int32_t packedSize, int32_t priority) override;
  void FileDone(const char* name, int32_t reportedSize, uint32_t elapsedMs, int32_t priority) override;
  void FileFailed(const char* name, int32_t reportedSize, uint32_t errorValue, const char* text,
                  int32_t priority) override;
  void FileCancelled(const char* name, int32_t priority) override;

 private:
  ~UDRAStats() = default;

  // The library calls from its window thread and from the game's calls; the
  // two may differ, so every operation takes this lock.
  std::mutex lock_;
  StatsTable table_;
  std::string summaryPath_;
};

}  // namespace udra::stats

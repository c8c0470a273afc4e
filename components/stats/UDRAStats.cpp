#include "components/stats/UDRAStats.h"

#include <cstdio>
#include <exception>

#include "platform/FileSystem.h"
#include "util/Paths.h"

namespace udra::stats {

namespace {

std::string DefaultSummaryPath() {
  std::string folder;
  if (!ModuleFolder(folder)) return std::string();
  return JoinPath(folder, kSummaryFileName);
}

}  // namespace

UDRAStats::UDRAStats(std::string summaryPath)
    : summaryPath_(summaryPath.empty() ? DefaultSummaryPath() : std::move(summaryPath)) {}

void UDRAStats::DeletingDestructor(unsigned int flags) {
  this->~UDRAStats();
  if (flags & 1) ::operator delete(this);
}

bool UDRAStats::StartStats() {
  std::lock_guard<std::mutex> guard(lock_);
  table_.Reset();
  return true;
}

void UDRAStats::StopStats() {
  std::lock_guard<std::mutex> guard(lock_);
  if (summaryPath_.empty()) return;
  try {
    const std::string text = table_.Summary();
    // Written whole under a temporary name first, so a reader never sees a
    // half-written summary.
    const std::string temporary = summaryPath_ + ".tmp";
    if (platform::WriteWholeFile(temporary, text.data(), text.size())) {
      platform::RemoveFile(summaryPath_);
      if (std::rename(temporary.c_str(), summaryPath_.c_str()) != 0) platform::RemoveFile(temporary);
    }
  } catch (const std::exception&) {
    // Statistics are best effort: nothing leaves the component.
  }
}

void UDRAStats::SetHostValue2(int32_t value) {
  std::lock_guard<std::mutex> guard(lock_);
  table_.SetHostValue2(value);
}

void UDRAStats::SetHostValue1(int32_t value) {
  std::lock_guard<std::mutex> guard(lock_);
  table_.SetHostValue1(value);
}

// The figures are kept per download name whatever the priority, so the
// priority arguments are not used.

void UDRAStats::FileRequested(const char* name, int32_t packedSize, int32_t) {
  std::lock_guard<std::mutex> guard(lock_);
  try {
    table_.Requested(name, packedSize);
  } catch (const std::exception&) {
  }
}

void UDRAStats::FileDone(const char* name, int32_t reportedSize, uint32_t elapsedMs, int32_t) {
  std::lock_guard<std::mutex> guard(lock_);
  try {
    table_.Done(name, reportedSize, elapsedMs);
  } catch (const std::exception&) {
  }
}

void UDRAStats::FileFailed(const char* name, int32_t reportedSize, uint32_t errorValue, const char* text, int32_t) {
  std::lock_guard<std::mutex> guard(lock_);
  try {
    table_.Failed(name, reportedSize, errorValue, text);
  } catch (const std::exception&) {
  }
}

void UDRAStats::FileCancelled(const char* name, int32_t) {
  std::lock_guard<std::mutex> guard(lock_);
  try {
    table_.Cancelled(name);
  } catch (const std::exception&) {
  }
}

}  // namespace udra::stats

#include "resources/UseRecord.h"

#include <cinttypes>
#include <clocale>
#include <cstdio>

#include "platform/FileSystem.h"
#include "platform/System.h"
#include "util/Paths.h"

namespace udra {
namespace {

constexpr uint32_t kFrequentCount = 200;

// Sets the user's default locale for the duration of a save and puts the
// previous one back afterwards, so the save does not change the game's
// locale behind its back.
class ScopedUserLocale {
 public:
  ScopedUserLocale() {
    const char* current = std::setlocale(LC_ALL, nullptr);
    if (current != nullptr) previous_ = current;
    std::setlocale(LC_ALL, "");
  }
  ~ScopedUserLocale() {
    if (!previous_.empty()) std::setlocale(LC_ALL, previous_.c_str());
  }
  ScopedUserLocale(const ScopedUserLocale&) = delete;
  ScopedUserLocale& operator=(const ScopedUserLocale&) = delete;

 private:
  std::string previous_;
};

}  // namespace

UseRecord::UseRecord(Clock clock) : clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return platform::UnixTime(); };
}

void UseRecord::RecordUse(const std::string& path) {
  auto it = entries_.find(path);
  if (it == entries_.end()) {
    entries_.emplace(path, UseEntry{1, clock_(), false});
  } else if (++it->second.count == 1) {
    it->second.firstUse = clock_();  // the entry came from MarkRequested
  }
  dirty_ = true;
}

void UseRecord::MarkRequested(const std::string& path) {
  auto it = entries_.find(path);
  if (it == entries_.end()) {
    entries_.emplace(path, UseEntry{0, 0, true});
  } else {
    it->second.requested = true;
  }
  dirty_ = true;
}

int32_t UseRecord::GetRequestedPercent() const {
  uint64_t opened = 0;
  uint64_t requested = 0;
  for (const auto& [path, entry] : entries_) {
    if (entry.count == 0) continue;
    ++opened;
    if (entry.requested) ++requested;
  }
  if (opened == 0) return 0;
  // Integer arithmetic truncates the exact ratio (29 of 100 is 29, which a
  // floating-point k / n * 100 would give as 28).
  return static_cast<int32_t>(requested * 100 / opened);
}

void UseRecord::CollectFrequent(std::vector<std::string>& list) const {
  for (const auto& [path, entry] : entries_) {
    if (entry.count >= kFrequentCount) list.push_back(path);
  }
}

bool UseRecord::Save(const std::string& filePath) {
  if (dirty_) {
    const std::string folder = ParentFolder(filePath);
    if (folder.empty() || !platform::MakeDirectories(folder)) return false;

    std::string text;
    {
      ScopedUserLocale locale;
      char numbers[64];
      for (const auto& [path, entry] : entries_) {
        std::snprintf(numbers, sizeof numbers, "|%" PRIu32 "|%" PRId64 "|%s\r\n", entry.count, entry.firstUse,
                      entry.requested ? "1" : "0");
        text += path;
        text += numbers;
      }
      if (!platform::WriteWholeFile(filePath, text.data(), text.size())) return false;
    }
    dirty_ = false;
  }
  entries_.clear();
  return true;
}

}  // namespace udra

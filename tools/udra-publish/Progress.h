// A one-line progress display on standard error, shown only on a terminal
// and redrawn at most ten times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace udra::publish {

class Progress {
 public:
  Progress(bool enabled, uint64_t totalBytes, size_t totalFiles);
  ~Progress();
  void Advance(uint64_t bytes, const std::string& name);
  void Finish();

 private:
  void Draw(const std::string& name);

  bool enabled_;
  bool drawn_ = false;
  uint64_t totalBytes_;
  size_t totalFiles_;
  uint64_t doneBytes_ = 0;
  size_t doneFiles_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace udra::publish

#include "Progress.h"

#include <cstdio>

namespace udra::publish {

Progress::Progress(bool enabled, uint64_t totalBytes, size_t totalFiles)
    : enabled_(enabled), totalBytes_(totalBytes), totalFiles_(totalFiles) {}

Progress::~Progress() { Finish(); }

void Progress::Advance(uint64_t bytes, const std::string& name) {
  doneBytes_ += bytes;
  ++doneFiles_;
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(100) && doneFiles_ != totalFiles_) {
    return;
  }
  lastDraw_ = now;
  Draw(name);
}

void Progress::Draw(const std::string& name) {
  const unsigned percent =
      totalBytes_ == 0 ? 100u : unsigned(doneBytes_ * 100 / totalBytes_);
  // Long names are cut from the front so the line fits a narrow terminal.
  std::string shown = name;
  if (shown.size() > 48) {
    size_t from = shown.size() - 45;
    while (from < shown.size() && (uint8_t(shown[from]) & 0xC0) == 0x80) ++from;  // UTF-8 start
    shown = "..." + shown.substr(from);
  }
  std::fprintf(stderr, "\r\033[K[%3u%%] %zu/%zu files  %s", percent, doneFiles_, totalFiles_,
               shown.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::Finish() {
  if (enabled_ && drawn_) {
    std::fputc('\n', stderr);
    std::fflush(stderr);
  }
  drawn_ = false;
  enabled_ = false;
}

}  // namespace udra::publish

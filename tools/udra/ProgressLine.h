// The progress line of a running sync: a bar, the share done, bytes, rate
// and time left, fitted to the terminal's width.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

namespace udra::tool {

// Bytes per second over the last few seconds of samples.
class RateMeter {
 public:
  // `doneBytes` at `nowMs` (any monotonic clock).
  void Add(int64_t nowMs, int64_t doneBytes);
  // 0 until two samples lie apart.
  double BytesPerSecond() const;

 private:
  static constexpr int64_t kWindowMs = 5000;
  std::deque<std::pair<int64_t, int64_t>> samples_;
};

// "1.5 MiB" style: bytes in B, KiB, MiB or GiB with one decimal above B.
std::string HumanBytes(double bytes);
// "42s", "3m05s", "2h07m"; "--" when unknown (rate 0 or nothing left to do).
std::string HumanDuration(double seconds);

// The line for `label` with `done` of `total` bytes at `rate` bytes/s, at most
// `columns` - 1 characters wide (a line as wide as the terminal wraps on
// some terminals). What does not fit goes in this order: the bar, the label
// (cut from its start, keeping its end), the time left, the rate.
std::string ProgressText(const std::string& label, int64_t done, int64_t total, double rate, int columns);

}  // namespace udra::tool

#include "ProgressLine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace udra::tool {

void RateMeter::Add(int64_t nowMs, int64_t doneBytes) {
  samples_.emplace_back(nowMs, doneBytes);
  while (samples_.size() > 2 && nowMs - samples_.front().first > kWindowMs) samples_.pop_front();
}

double RateMeter::BytesPerSecond() const {
  if (samples_.size() < 2) return 0;
  const auto& first = samples_.front();
  const auto& last = samples_.back();
  const int64_t ms = last.first - first.first;
  if (ms <= 0 || last.second < first.second) return 0;
  return double(last.second - first.second) * 1000.0 / double(ms);
}

std::string HumanBytes(double bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%.0f B", std::max(0.0, bytes));
    return text;
  }
  int unit = -1;
  while (bytes >= 1024 && unit < 3) {
    bytes /= 1024;
    ++unit;
  }
  std::snprintf(text, sizeof text, "%.1f %s", bytes, kUnits[unit]);
  return text;
}

std::string HumanDuration(double seconds) {
  if (!(seconds >= 0) || seconds > 359999) return "--";
  const long s = long(std::ceil(seconds));
  char text[32];
  if (s < 60)
    std::snprintf(text, sizeof text, "%lds", s);
  else if (s < 3600)
    std::snprintf(text, sizeof text, "%ldm%02lds", s / 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ldh%02ldm", s / 3600, (s / 60) % 60);
  return text;
}

std::string ProgressText(const std::string& label, int64_t done, int64_t total, double rate, int columns) {
  const int width = std::max(columns - 1, 0);
  const double share = total > 0 ? std::min(1.0, std::max(0.0, double(done) / double(total))) : 0.0;
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", int(share * 100));
  const std::string bytes = HumanBytes(double(done)) + "/" + HumanBytes(double(total));
  const std::string speed = rate > 0 ? HumanBytes(rate) + "/s" : "";
  const std::string eta = rate > 0 && total > done ? "ETA " + HumanDuration(double(total - done) / rate) : "";

  // Parts after the label, each with its leading blank.
  std::string tail = std::string(" ") + percent + " " + bytes;
  const std::string withSpeed = speed.empty() ? "" : " " + speed;
  const std::string withEta = eta.empty() ? "" : " " + eta;
  auto fits = [&](size_t n) { return n <= size_t(width); };
  // Drop rate and time left only when even the shortest label would not fit.
  const size_t minLabel = std::min<size_t>(label.size(), 12);
  std::string extras = withSpeed + withEta;
  if (!fits(minLabel + tail.size() + extras.size())) extras = withSpeed;
  if (!fits(minLabel + tail.size() + extras.size())) extras.clear();
  tail += extras;
  if (!fits(tail.size())) return tail.substr(0, size_t(width));

  // The bar takes what is left after a label of up to 30 characters.
  const size_t room = size_t(width) - tail.size();
  size_t labelRoom = std::min<size_t>(label.size(), std::min<size_t>(room, 30));
  size_t barRoom = room - labelRoom;
  int bar = barRoom >= 12 ? int(std::min<size_t>(barRoom - 3, 30)) : 0;  // " [" + bar + "]"
  if (bar == 0) labelRoom = std::min(label.size(), room);
  std::string shown = label;
  if (shown.size() > labelRoom) {
    // Keep the end of the label (the file name), never half a UTF-8 character.
    const size_t keep = labelRoom >= 3 ? labelRoom - 3 : labelRoom;
    size_t from = shown.size() - keep;
    while (from < shown.size() && (uint8_t(shown[from]) & 0xC0) == 0x80) ++from;
    shown = (labelRoom >= 3 ? "..." : "") + shown.substr(from);
  }
  std::string line = shown;
  if (bar > 0) {
    const int filled = share >= 1.0 ? bar : int(share * bar);
    line += " [" + std::string(size_t(filled), '#') + std::string(size_t(bar - filled), ' ') + "]";
  }
  return line + tail;
}

}  // namespace udra::tool

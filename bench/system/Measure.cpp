#include "Measure.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace udra::sysbench {

namespace {

double CpuSeconds(int who) {
  rusage usage{};
  if (getrusage(who, &usage) != 0) return 0;
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

double SelfCpuSeconds() { return CpuSeconds(RUSAGE_SELF); }

double ChildrenCpuSeconds() { return CpuSeconds(RUSAGE_CHILDREN); }

double Samples::Percentile(double p) const {
  if (values_.empty()) return 0;
  std::vector<double> sorted = values_;
  std::sort(sorted.begin(), sorted.end());
  const double rank = std::ceil(p / 100.0 * static_cast<double>(sorted.size()));
  const size_t index = rank < 1 ? 0 : std::min(sorted.size() - 1, static_cast<size_t>(rank) - 1);
  return sorted[index];
}

double Samples::Mean() const {
  if (values_.empty()) return 0;
  double sum = 0;
  for (double v : values_) sum += v;
  return sum / static_cast<double>(values_.size());
}

Table::Table(std::vector<std::pair<std::string, int>> columns) : columns_(std::move(columns)) {}

void Table::Row(const std::vector<std::string>& cells) { rows_.push_back(cells); }

void Table::Rule() { rows_.emplace_back(); }

void Table::Print() const {
  auto line = [this](const std::vector<std::string>& cells) {
    std::string out;
    for (size_t i = 0; i < columns_.size(); ++i) {
      const std::string cell = i < cells.size() ? cells[i] : "";
      const int width = columns_[i].second;
      // The first column is left-aligned (labels), the others right-aligned (figures).
      out += Fmt(i == 0 ? "%-*s" : "  %*s", width, cell.c_str());
    }
    printf("%s\n", out.c_str());
  };
  auto rule = [this] {
    size_t width = 0;
    for (size_t i = 0; i < columns_.size(); ++i) width += static_cast<size_t>(columns_[i].second) + (i ? 2 : 0);
    printf("%s\n", std::string(width, '-').c_str());
  };
  std::vector<std::string> titles;
  for (const auto& column : columns_) titles.push_back(column.first);
  line(titles);
  rule();
  for (const auto& row : rows_) row.empty() ? rule() : line(row);
  fflush(stdout);
}

std::string Fmt(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return n < 0 ? std::string() : std::string(buffer, std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 1));
}

std::string RandomBytes(size_t size, uint64_t seed) {
  std::string out(size, '\0');
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  for (size_t at = 0; at < size; at += 8) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    memcpy(&out[at], &z, std::min<size_t>(8, size - at));
  }
  return out;
}

}  // namespace udra::sysbench

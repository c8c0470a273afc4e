// Timing, samples and the printed tables of the system benchmark.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace udra::sysbench {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU seconds (user + system) of this process, and of its children that
// have ended and been reaped (curl, md5sum, a killed host).
double SelfCpuSeconds();
double ChildrenCpuSeconds();

// Repeated measurements of one quantity.
class Samples {
 public:
  void Add(double value) { values_.push_back(value); }
  bool empty() const { return values_.empty(); }
  size_t size() const { return values_.size(); }
  double Median() const { return Percentile(50); }
  // Nearest-rank percentile, 0 <= p <= 100; 0 when empty.
  double Percentile(double p) const;
  double Mean() const;

 private:
  std::vector<double> values_;
};

// A fixed-width text table: a header, rows, and rules between sections.
class Table {
 public:
  explicit Table(std::vector<std::pair<std::string, int>> columns);  // title, width
  void Row(const std::vector<std::string>& cells);
  void Rule();
  void Print() const;

 private:
  std::vector<std::pair<std::string, int>> columns_;
  std::vector<std::vector<std::string>> rows_;  // an empty row is a rule
};

// printf into a std::string.
std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Deterministic, barely compressible bytes (splitmix64).
std::string RandomBytes(size_t size, uint64_t seed);

}  // namespace udra::sysbench

// Reads served from the content cache against memcpy of the same sizes, and
// trimming many closed cache entries against freeing the same entries from a
// plain map.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "resources/FileOperations.h"
#include "support/FileSlotsManager.h"

namespace udra {
namespace {

constexpr uint32_t kFileSize = 64u << 20;

class BenchManager : public test::FileSlotsManager {
 public:
  explicit BenchManager(const std::string& catalogue = "big.dat|" + std::to_string(kFileSize) + "|1\n")
      : ops(lock, fileList, useRecord, *this, [](const std::string&) { return true; },
            [](const std::string&, int32_t size) {
              DecodedContent c;
              c.outcome = DecodedContent::Outcome::Bytes;
              c.data.reset(new char[size_t(size)]);
              std::memset(c.data.get(), 0x5A, size_t(size));
              c.size = uint32_t(size);
              return c;
            }) {
    fileList.LoadFromBuffer(catalogue);
    ops.Reset(0xFFFFFFFFu);
  }
  FileOperations& files() override { return ops; }

  std::recursive_mutex lock;
  FileList fileList;
  UseRecord useRecord;
  FileOperations ops;
};

void BM_ReadOpenFileFromCache(benchmark::State& state) {
  BenchManager m;
  const uint32_t chunk = uint32_t(state.range(0));
  std::unique_ptr<char[]> buffer(new char[chunk]);
  const int32_t h = m.OpenFile("big.dat", "r");
  uint32_t n = chunk;
  m.ReadOpenFile(h, buffer.get(), &n, 0);  // the first read loads the cache
  for (auto _ : state) {
    n = chunk;
    m.ReadOpenFile(h, buffer.get(), &n, 0);
    if (n == 0) m.SeekOpenFile(h, 0, 0);
    benchmark::DoNotOptimize(buffer[0]);
  }
  state.SetBytesProcessed(int64_t(chunk) * state.iterations());
}
BENCHMARK(BM_ReadOpenFileFromCache)->Arg(4 << 10)->Arg(1 << 20);

void BM_Baseline_Memcpy(benchmark::State& state) {
  const uint32_t chunk = uint32_t(state.range(0));
  std::unique_ptr<char[]> source(new char[kFileSize]);
  std::memset(source.get(), 0x5A, kFileSize);
  std::unique_ptr<char[]> buffer(new char[chunk]);
  uint32_t position = 0;
  for (auto _ : state) {
    if (position + chunk > kFileSize) position = 0;
    std::memcpy(buffer.get(), source.get() + position, chunk);
    position += chunk;
    benchmark::DoNotOptimize(buffer[0]);
  }
  state.SetBytesProcessed(int64_t(chunk) * state.iterations());
}
BENCHMARK(BM_Baseline_Memcpy)->Arg(4 << 10)->Arg(1 << 20);

constexpr uint32_t kTrimFileSize = 16;

std::string TrimName(int i) { return "Data\\f" + std::to_string(i * 7919 % 100003) + ".dat"; }

std::string TrimCatalogue(int files) {
  std::string list;
  for (int i = 0; i < files; ++i) list += TrimName(i) + "|" + std::to_string(kTrimFileSize) + "|1\n";
  return list;
}

// SetCacheLimit(1) over `files` closed, loaded entries (opened, read and
// closed in turn; many share a tick, so ties by path are common): every
// entry goes, oldest first.
void BM_TrimClosedEntries(benchmark::State& state) {
  const int files = int(state.range(0));
  BenchManager m(TrimCatalogue(files));
  for (auto _ : state) {
    state.PauseTiming();
    m.ops.Reset(0xFFFFFFFFu);
    for (int i = 0; i < files; ++i) {
      const int32_t h = m.OpenFile(TrimName(i).c_str(), "r");
      char buffer[kTrimFileSize];
      uint32_t n = sizeof buffer;
      m.ReadOpenFile(h, buffer, &n, 0);
      m.CloseFile(h);
    }
    state.ResumeTiming();
    m.SetCacheLimit(1);
    benchmark::DoNotOptimize(m.ops.cacheEntryCount());
  }
  state.counters["entries"] = double(files);
}

// Baseline: freeing the same number of entries of the same sizes from a map
// ordered by path, the work no trim can avoid.
void BM_Baseline_EraseEntries(benchmark::State& state) {
  const int files = int(state.range(0));
  std::map<std::string, std::unique_ptr<char[]>> entries;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < files; ++i) entries[TrimName(i)].reset(new char[kTrimFileSize]);
    state.ResumeTiming();
    while (!entries.empty()) entries.erase(entries.begin());
  }
  state.counters["entries"] = double(files);
}

BENCHMARK(BM_TrimClosedEntries)->Arg(40000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_EraseEntries)->Arg(40000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace udra

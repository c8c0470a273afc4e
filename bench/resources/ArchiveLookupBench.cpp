// IsFileInArchive as the manager runs it: path normalisation, catalogue
// lookup and the store's answer, behind the reader gate that keeps the
// catalogue and the store alive while another thread may release them. Next
// to it, in the same run: the same lookup without the gate (what the manager
// did before it had one) and with the manager's lock taken instead, alone and
// with a second thread doing the same. The store here is an in-memory set, so
// the gate's share is larger than it is in front of the real store.
#include <benchmark/benchmark.h>

#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/ReaderGate.h"
#include "resources/FileOperations.h"
#include "resources/KeyOrder.h"
#include "support/NullManager.h"

namespace udra {
namespace {

// Only the slots IsFileInArchive can reach do anything.
class LookupManager : public test::NullManager {
 public:
  LookupManager()
      : ops(lock, fileList, useRecord, *this, [this](const std::string& n) { return store.count(n) > 0; },
            [](const std::string&, int32_t) { return DecodedContent(); }) {
    std::string text;
    std::mt19937 rng(3);
    for (int i = 0; i < 100000; ++i) {
      const std::string key = "Data\\Folder" + std::to_string(i % 97) + "\\file_" + std::to_string(rng()) + ".dat";
      text += key + "|100|60|d|pd|v1\n";
      if (i % 2 == 0) store.insert(key);
      if (probes.size() < 4096 && i % 24 == 0) probes.push_back(key);
    }
    fileList.LoadFromBuffer(std::move(text));
    gate.Open();
  }

  bool IsFileInArchive(const char* p) override { return ops.IsFileInArchive(p); }

  std::recursive_mutex lock;
  FileList fileList;
  UseRecord useRecord{[] { return int64_t(1); }};
  std::set<std::string, KeyOrder> store;
  std::vector<std::string> probes;
  ReaderGate gate;
  FileOperations ops;
};

LookupManager& Manager() {
  static LookupManager* manager = new LookupManager;
  return *manager;
}

void BM_IsFileInArchive_Gated(benchmark::State& state) {
  LookupManager& m = Manager();
  size_t i = 0;
  for (auto _ : state) {
    const ReaderGate::Read read(m.gate);
    benchmark::DoNotOptimize(read && m.ops.IsFileInArchive(m.probes[i++ & 4095].c_str()));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IsFileInArchive_Gated)->Threads(1)->Threads(2);

void BM_Baseline_IsFileInArchive_Unguarded(benchmark::State& state) {
  LookupManager& m = Manager();
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(m.ops.IsFileInArchive(m.probes[i++ & 4095].c_str()));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Baseline_IsFileInArchive_Unguarded)->Threads(1)->Threads(2);

void BM_Baseline_IsFileInArchive_UnderLock(benchmark::State& state) {
  LookupManager& m = Manager();
  size_t i = 0;
  for (auto _ : state) {
    std::lock_guard<std::recursive_mutex> guard(m.lock);
    benchmark::DoNotOptimize(m.ops.IsFileInArchive(m.probes[i++ & 4095].c_str()));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Baseline_IsFileInArchive_UnderLock)->Threads(1)->Threads(2);

// Path normalisation alone, ASCII and GBK paths (two-byte characters are
// walked character by character).
void BM_NormalizePath(benchmark::State& state) {
  const std::string path = state.range(0) ? "Data\\\xD7\xCA\xD4\xB4\\\x95\x5C\xCE\xC4\xBC\xFE\\file_123.dat"
                                          : "Data/Folder12/sub/../file_1234567.dat";
  for (auto _ : state) benchmark::DoNotOptimize(NormalizePath(path.c_str()));
  state.SetLabel(state.range(0) ? "GBK" : "ASCII");
}
BENCHMARK(BM_NormalizePath)->Arg(0)->Arg(1);

}  // namespace
}  // namespace udra

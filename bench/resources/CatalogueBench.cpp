// Catalogue figures: loading a generated 1,000,000-entry FileList.dat in key
// order and in random order against reading and hashing the same file (with
// the bytes held per entry), the three side by side in alternating rounds,
// lookups of random keys, and the walk of a 10,000-entry folder.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "resources/FileList.h"
#include "resources/KeyOrder.h"
#include "resources/PathRules.h"
#include "util/Md5.h"

namespace udra {
namespace {

constexpr int kEntries = 1000000;
constexpr int kBigFolderEntries = 10000;

struct Catalogue {
  std::string path;
  std::string shuffledPath;
  std::vector<std::string> keys;
};

std::string HexDigits(std::mt19937_64& rng) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s(32, '0');
  for (char& c : s) c = kHex[rng() & 15];
  return s;
}

// Realistic paths: top folders, two levels of sub-folders with folder entries,
// a fifth of the folders stored as packages, and one folder of 10,000 files.
const Catalogue& Generated() {
  static Catalogue catalogue = [] {
    Catalogue c;
    c.path = std::string(UDRA_BINARY_DIR) + "/bench-FileList.dat";
    c.shuffledPath = std::string(UDRA_BINARY_DIR) + "/bench-FileList-shuffled.dat";
    std::mt19937_64 rng(42);
    std::vector<std::string> lines;
    lines.reserve(kEntries);
    auto add = [&](const std::string& key, int32_t size, const std::string& package) {
      const std::string line = key + "|" + std::to_string(size) + "|" + std::to_string(size / 2 + 17) + "|" +
                               HexDigits(rng) + "|" + HexDigits(rng) + "|res/v1.0.3|" + (package.empty() ? ":" : package);
      lines.push_back(line);
      c.keys.push_back(key);
    };
    add("Data", -1, "");
    add("Data\\Big", -1, "");
    for (int i = 0; i < kBigFolderEntries; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "Data\\Big\\item_%05d.dat", i);
      add(name, int32_t(rng() % 100000), "");
    }
    static const char* kTops[] = {"Models", "Textures", "Sound", "Maps", "Scripts", "UI"};
    static const char* kExt[] = {".mdl", ".dds", ".ogg", ".map", ".lua", ".xml"};
    int top = 0;
    while (int(lines.size()) < kEntries) {
      const std::string topName = kTops[top % 6];
      add(topName + std::to_string(top / 6), -1, "");
      for (int region = 0; region < 40 && int(lines.size()) < kEntries; ++region) {
        char folder[96];
        std::snprintf(folder, sizeof folder, "%s%d\\Region%03d", topName.c_str(), top / 6, region);
        const bool packaged = region % 5 == 0;
        const std::string package = packaged ? std::string(folder) + ".pack" : "";
        add(folder, -1, package);
        for (int file = 0; file < 600 && int(lines.size()) < kEntries; ++file) {
          char name[160];
          std::snprintf(name, sizeof name, "%s\\Set%02d\\file_%04d%s", folder, file / 50, file, kExt[top % 6]);
          add(name, int32_t(rng() % 1000000), package);
        }
      }
      ++top;
    }
    // The generated lines are in folder order, not key order (Models0 comes
    // before Maps0); the sorted file is what udra-publish writes.
    const auto keyOf = [](const std::string& line) { return std::string_view(line).substr(0, line.find('|')); };
    std::stable_sort(lines.begin(), lines.end(),
                     [&](const std::string& a, const std::string& b) { return KeyLess(keyOf(a), keyOf(b)); });
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    platform::WriteWholeFile(c.path, text.data(), text.size());
    std::shuffle(lines.begin(), lines.end(), rng);
    text.clear();
    for (const auto& l : lines) text += l + "\r\n";
    platform::WriteWholeFile(c.shuffledPath, text.data(), text.size());
    return c;
  }();
  return catalogue;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

void BM_Baseline_ReadAndMd5(benchmark::State& state) {
  const std::string& path = Generated().path;
  size_t bytes = 0;
  for (auto _ : state) {
    std::string data;
    platform::ReadWholeFile(path, data);
    benchmark::DoNotOptimize(Md5::HexDigest(data.data(), data.size()));
    bytes = data.size();
  }
  state.SetBytesProcessed(int64_t(bytes) * state.iterations());
  state.SetItemsProcessed(int64_t(kEntries) * state.iterations());
}
BENCHMARK(BM_Baseline_ReadAndMd5)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void LoadBench(benchmark::State& state, const std::string& path) {
  size_t entries = 0;
  double kib = 0;
  double held = 0;
  for (auto _ : state) {
    const long before = ResidentKiB();
    FileList list;
    if (!list.load(path)) state.SkipWithError("load failed");
    kib = std::max(kib, double(ResidentKiB() - before));
    entries = list.entryCount();
    held = double(list.memoryBytes());
  }
  state.SetItemsProcessed(int64_t(entries) * state.iterations());
  state.counters["entries"] = double(entries);
  state.counters["resident_bytes_per_entry"] = kib * 1024.0 / double(entries ? entries : 1);
  state.counters["held_bytes_per_entry"] = held / double(entries ? entries : 1);
}

void BM_LoadFileList(benchmark::State& state) { LoadBench(state, Generated().path); }
BENCHMARK(BM_LoadFileList)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_LoadFileList_Shuffled(benchmark::State& state) { LoadBench(state, Generated().shuffledPath); }
BENCHMARK(BM_LoadFileList_Shuffled)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The three figures of one round side by side, alternating so that a busy
// machine slows them alike: reading + MD5 of the sorted file, the load of the
// sorted file and the load of the same lines in random order. Reports each in
// ms (median of the rounds) and the random-order load against the sorted one.
void BM_LoadShuffledAgainstSorted(benchmark::State& state) {
  const Catalogue& c = Generated();
  std::vector<double> base, sorted, shuffled;
  const auto seconds = [](auto&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  double held = 0;
  for (auto _ : state) {
    base.push_back(seconds([&] {
      std::string data;
      platform::ReadWholeFile(c.path, data);
      benchmark::DoNotOptimize(Md5::HexDigest(data.data(), data.size()));
    }));
    sorted.push_back(seconds([&] {
      FileList list;
      if (!list.load(c.path)) state.SkipWithError("load failed");
    }));
    shuffled.push_back(seconds([&] {
      FileList list;
      if (!list.load(c.shuffledPath)) state.SkipWithError("load failed");
      held = double(list.memoryBytes()) / double(std::max<size_t>(list.entryCount(), 1));
    }));
    state.SetIterationTime(base.back() + sorted.back() + shuffled.back());
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
  };
  state.counters["read_md5_ms"] = median(base) * 1e3;
  state.counters["sorted_ms"] = median(sorted) * 1e3;
  state.counters["shuffled_ms"] = median(shuffled) * 1e3;
  state.counters["shuffled_x_sorted"] = median(shuffled) / median(sorted);
  state.counters["sorted_x_read_md5"] = median(sorted) / median(base);
  state.counters["held_bytes_per_entry"] = held;
}
BENCHMARK(BM_LoadShuffledAgainstSorted)->Unit(benchmark::kMillisecond)->Iterations(7)->UseManualTime();

struct Loaded {
  FileList list;
  std::vector<std::string> probes;
  Loaded() {
    list.load(Generated().path);
    std::mt19937 rng(7);
    const auto& keys = Generated().keys;
    for (int i = 0; i < 4096; ++i) {
      std::string key = keys[rng() % keys.size()];
      if (i % 2) std::transform(key.begin(), key.end(), key.begin(), [](char c) { return char(std::tolower(c)); });
      probes.push_back(key);
    }
  }
};

const Loaded& LoadedCatalogue() {
  static Loaded loaded;
  return loaded;
}

void BM_LookupRandomKey(benchmark::State& state) {
  const Loaded& l = LoadedCatalogue();
  size_t i = 0;
  for (auto _ : state) {
    int32_t size;
    benchmark::DoNotOptimize(l.list.size(l.probes[i++ & 4095], size));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupRandomKey);

void BM_LookupRandomKey_Normalized(benchmark::State& state) {
  const Loaded& l = LoadedCatalogue();
  size_t i = 0;
  for (auto _ : state) {
    int32_t size;
    benchmark::DoNotOptimize(l.list.size(NormalizePath(l.probes[i++ & 4095].c_str()).view(), size));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupRandomKey_Normalized);

void BM_WalkFolderOf10000(benchmark::State& state) {
  const Loaded& l = LoadedCatalogue();
  size_t n = 0;
  for (auto _ : state) {
    std::vector<std::string> keys;
    l.list.entriesBelow("Data\\Big", keys);
    n = keys.size();
  }
  if (n != size_t(kBigFolderEntries)) state.SkipWithError("wrong walk");
  state.SetItemsProcessed(int64_t(n) * state.iterations());
}
BENCHMARK(BM_WalkFolderOf10000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace udra

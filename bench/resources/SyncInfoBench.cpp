// GetSyncInfo of a folder sync of 20,000 files, polled as a game does every
// frame while the downloads progress, against the figure computed from
// scratch on every call (the folder walk, its distinct download names, and a
// store and table look-up per name, as GetSyncInfo did before it kept its
// figures) in the same run. The host's table is real shared memory read by
// the library's DownloadingFiles, written as the host does (an entry per
// requested name); the store is a map, so the baseline pays far less per
// stored name than with the real store, where each look-up is two SQLite
// queries.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "hostlink/DownloadingFiles.h"
#include "platform/SharedMemory.h"
#include "platform/System.h"
#include "resources/Syncs.h"
#include "support/NullManager.h"

namespace udra {
namespace {

constexpr int kFiles = 20000;

class BenchManager final : public test::NullManager {
 public:
  std::set<std::string>* present = nullptr;
  bool IsFileInArchive(const char* path) override { return present->count(path) != 0; }
};

// A folder of 20,000 files, every fourth in a package of 8; half of the
// names are in the store at StartSync, the others requested and in the
// host's table.
struct Setup {
  std::recursive_mutex lock;
  FileList files;
  UseRecord useRecord{[] { return int64_t(1700000000); }};
  BenchManager manager;
  Logger log{"ResourceManager"};
  std::set<std::string> present;
  std::map<std::string, int32_t> stored;
  std::string key = "SYNCINFOBENCH" + std::to_string(platform::CurrentProcessId());
  std::unique_ptr<platform::SharedMemory> memory;
  uint8_t* table = nullptr;
  std::vector<uint64_t> doneAt;  // offsets of the table entries' counts
  DownloadingFiles reader{key};
  std::unique_ptr<Syncs> syncs;
  int32_t id = -1;

  Setup() {
    std::string text = "Big|-1|0|0|0|srv\n";
    char line[160];
    for (int i = 0; i < kFiles; ++i) {
      const bool packaged = i % 4 == 0;
      std::snprintf(line, sizeof line, "Big\\f%05d.dat|100|1000|d|p|srv|%s\n", i,
                    packaged ? ("pk" + std::to_string(i / 32) + ".pak").c_str() : ":");
      text += line;
    }
    files.LoadFromBuffer(text);
    memory = platform::SharedMemory::Create(DownloadingFiles::TableName(key), DownloadingFiles::kTableSpan);
    if (memory) table = static_cast<uint8_t*>(memory->MapView(0, 0));
    std::vector<std::string> keys;
    files.filesBelow("Big", keys);
    std::set<std::string> seen;
    uint64_t at = 0;
    for (size_t i = 0; i < keys.size(); ++i) {
      const std::string package = files.packageName(keys[i]);
      const std::string name = package.empty() ? keys[i] : package;
      if (!seen.insert(name).second) continue;
      if (seen.size() % 2) {
        present.insert(name);
        stored[name] = 1000;
      } else if (table) {
        const uint32_t length = uint32_t(12 + name.size() + 1);
        const int32_t zero = 0, total = 1000;
        std::memcpy(table + at, &length, 4);
        std::memcpy(table + at + 4, &zero, 4);
        std::memcpy(table + at + 8, &total, 4);
        std::memcpy(table + at + 12, name.c_str(), name.size() + 1);
        doneAt.push_back(at + 4);
        at += length;
      }
    }
    reader.Open();
    manager.present = &present;
    SyncLinks links;
    links.send = [](const PipeMsg&) { return true; };
    links.stats = [] { return static_cast<StatsFacade*>(nullptr); };
    links.storedSize = [this](const std::string& name, int32_t& size) { return Find(stored, name, size); };
    links.downloadedBytes = [this](const std::string& name, int32_t& bytes, uint64_t& hint) {
      return reader.GetDownloadedBytesAt(name, hint, bytes);
    };
    links.urlRoot = [] { return std::string("http://127.0.0.1/"); };
    links.post = [](platform::WindowHandle, uint32_t, uintptr_t, intptr_t) { return true; };
    syncs = std::make_unique<Syncs>(lock, files, useRecord, manager, log, std::move(links));
    id = syncs->StartSync("Big", nullptr, 1, 0);
    // Both sides start warm: the reader knows where every name is, and the
    // sync has been asked once.
    for (const std::string& name : seen) {
      int32_t bytes = 0;
      reader.GetDownloadedBytes(name, bytes, nullptr);
    }
    SyncInfo info{};
    syncs->GetSyncInfo(id, &info);
  }
  bool ready() const { return table && reader.IsOpen() && id != -1; }
  static bool Find(const std::map<std::string, int32_t>& m, const std::string& name, int32_t& out) {
    const auto it = m.find(name);
    if (it == m.end()) return false;
    out = it->second;
    return true;
  }
  // A frame's worth of progress: one download moves on by 10 bytes.
  void Progress(size_t frame) {
    int32_t done = 0;
    const uint64_t at = doneAt[frame % doneAt.size()];
    std::memcpy(&done, table + at, 4);
    done += 10;
    std::memcpy(table + at, &done, 4);
  }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void BM_Baseline_SyncInfoFromScratch(benchmark::State& state) {
  Setup& s = Shared();
  if (!s.ready()) return state.SkipWithError("no table");
  size_t frame = 0;
  int32_t figure = 0;
  for (auto _ : state) {
    s.Progress(frame++);
    std::vector<std::string> keys;
    s.files.filesBelow("Big", keys);
    std::set<std::string> names;
    for (const std::string& key : keys) {
      const std::string package = s.files.packageName(key);
      names.insert(package.empty() ? key : package);
    }
    uint32_t sum = 0;
    for (const std::string& name : names) {
      int32_t bytes = 0;
      if (!Setup::Find(s.stored, name, bytes) && !s.reader.GetDownloadedBytes(name, bytes, nullptr)) break;
      sum += uint32_t(bytes);
    }
    figure = int32_t(sum);
    benchmark::DoNotOptimize(figure);
  }
  state.counters["names"] = double(s.stored.size() + s.doneAt.size());
}
BENCHMARK(BM_Baseline_SyncInfoFromScratch)->Unit(benchmark::kMicrosecond);

void BM_GetSyncInfoOf20000Files(benchmark::State& state) {
  Setup& s = Shared();
  if (!s.ready()) return state.SkipWithError("no table");
  size_t frame = 0;
  SyncInfo info{};
  for (auto _ : state) {
    s.Progress(frame++);
    if (!s.syncs->GetSyncInfo(s.id, &info)) state.SkipWithError("no figure");
    benchmark::DoNotOptimize(info.doneSize);
  }
  state.counters["names"] = double(s.stored.size() + s.doneAt.size());
}
BENCHMARK(BM_GetSyncInfoOf20000Files)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace udra

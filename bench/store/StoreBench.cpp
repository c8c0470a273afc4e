// Reading and writing entries of the store, each next to the same work done
// with plain files in the same folder (the baseline).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "components/store/ZavStore.h"

namespace {

using udra::ZavEntryData;
using udra::store::ZavStore;

constexpr int kNames = 2048;  // written names cycle, so the store stays small

std::string MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zavbench-XXXXXX").string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  return mkdtemp(buf.data()) != nullptr ? std::string(buf.data()) : std::string();
}

std::vector<char> Bytes(size_t size) {
  std::vector<char> out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<char>(i * 131 + (i >> 9));
  return out;
}

// A store (and a plain folder beside it) that lives for one benchmark.
struct Fixture {
  std::string dir = MakeTempDir();
  std::string store = dir + "/UDRADownload";
  std::string files = dir + "/plain";
  ZavStore zav;

  Fixture() {
    std::filesystem::create_directories(files);
    zav.Create(store.c_str(), 0, 0);
  }
  ~Fixture() {
    zav.Close();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string File(int i) const { return files + "/f" + std::to_string(i); }
};

bool WriteFile(const std::string& path, const std::vector<char>& data, bool sync = false) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
  if (sync) ok = fdatasync(fd) == 0 && ok;
  return close(fd) == 0 && ok;
}

// Written under a temporary name and renamed: a plain file that, like a
// store entry, is visible only when complete. With `sync` it is also on disk
// before it is visible, as the store's entries are once checkpointed.
bool WriteFileAtomically(const std::string& path, const std::vector<char>& data, bool sync = false) {
  std::string temporary = path + ".tmp";
  return WriteFile(temporary, data, sync) && std::rename(temporary.c_str(), path.c_str()) == 0;
}

void BM_ReadEntry(benchmark::State& state) {
  Fixture f;
  std::vector<char> data = Bytes(static_cast<size_t>(state.range(0)));
  f.zav.PutEntry("data\\entry.pak", data.data(), static_cast<uint32_t>(data.size()));
  std::vector<char> buffer(data.size());
  for (auto _ : state) {
    int32_t h = f.zav.OpenEntry("DATA\\ENTRY.PAK", 1, 0);
    uint32_t size = static_cast<uint32_t>(f.zav.GetEntrySize(h));
    if (!f.zav.ReadEntry(h, buffer.data(), &size)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_ReadPlainFile_Baseline(benchmark::State& state) {
  Fixture f;
  std::vector<char> data = Bytes(static_cast<size_t>(state.range(0)));
  WriteFile(f.File(0), data);
  std::vector<char> buffer(data.size());
  for (auto _ : state) {
    int fd = open(f.File(0).c_str(), O_RDONLY | O_CLOEXEC);
    if (read(fd, buffer.data(), buffer.size()) != static_cast<ssize_t>(buffer.size())) {
      state.SkipWithError("read failed");
    }
    close(fd);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// 16 KiB entries, `range(0)` per commit.
void BM_Put16KiB(benchmark::State& state) {
  Fixture f;
  const uint32_t perCommit = static_cast<uint32_t>(state.range(0));
  std::vector<char> data = Bytes(16 * 1024);
  std::vector<std::string> names;
  for (int i = 0; i < kNames; ++i) names.push_back("files\\entry" + std::to_string(i) + ".dat");
  std::vector<ZavEntryData> batch(perCommit);
  int next = 0;
  for (auto _ : state) {
    for (auto& e : batch) {
      e = {names[next].c_str(), data.data(), static_cast<uint32_t>(data.size())};
      next = (next + 1) % kNames;
    }
    if (!f.zav.PutEntries(batch.data(), perCommit)) state.SkipWithError("put failed");
  }
  state.SetItemsProcessed(state.iterations() * perCommit);
  state.SetBytesProcessed(state.iterations() * perCommit * static_cast<int64_t>(data.size()));
}

void BM_Write16KiBFiles_Baseline(benchmark::State& state) {
  Fixture f;
  std::vector<char> data = Bytes(16 * 1024);
  int next = 0;
  for (auto _ : state) {
    if (!WriteFileAtomically(f.File(next), data)) state.SkipWithError("write failed");
    next = (next + 1) % kNames;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}

void BM_Put32MiB(benchmark::State& state) {
  Fixture f;
  std::vector<char> data = Bytes(32u << 20);
  for (auto _ : state) {
    if (!f.zav.PutEntry("big.pak", data.data(), static_cast<uint32_t>(data.size()))) {
      state.SkipWithError("put failed");
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}

void BM_Write32MiBFile_Baseline(benchmark::State& state) {
  Fixture f;
  std::vector<char> data = Bytes(32u << 20);
  const bool sync = state.range(0) != 0;
  for (auto _ : state) {
    if (!WriteFileAtomically(f.File(0), data, sync)) state.SkipWithError("write failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}

BENCHMARK(BM_ReadEntry)->Arg(16 << 10)->Arg(1 << 20)->Arg(32 << 20);
BENCHMARK(BM_ReadPlainFile_Baseline)->Arg(16 << 10)->Arg(1 << 20)->Arg(32 << 20);
// Writes wait for the disk: their rates are measured in wall-clock time.
BENCHMARK(BM_Put16KiB)->Arg(1)->Arg(100)->Arg(1000)->UseRealTime();
BENCHMARK(BM_Write16KiBFiles_Baseline)->UseRealTime();
BENCHMARK(BM_Put32MiB)->Unit(benchmark::kMillisecond)->UseRealTime();
// 0: left in the page cache; 1: flushed to disk before the rename.
BENCHMARK(BM_Write32MiBFile_Baseline)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

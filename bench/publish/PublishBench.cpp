// udra-publish writing a new version of a 5,000-file tree (small files of a
// few KB, 100 folders) of which 1% changed since the previous version, against
// `md5sum` over the same 5,000 source files, measured in the same run. Every
// file of a new version has to be read and hashed to know whether it
// changed, so md5sum is the floor; the aim is at most twice its time. Each
// publish iteration changes another 50 files and publishes the next version
// (v2, v3, ...) over the previous one, the tool started as a process as an
// operator would.
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 5000;
constexpr int kFolders = 100;
constexpr int kChangedPerVersion = kFiles / 100;

fs::path g_work, g_src, g_out;
std::vector<fs::path> g_files;
int g_version = 1;
std::map<std::string, double> g_best;  // run -> fastest iteration, seconds

// Text-like bytes: words from a small vocabulary with random numbers, so
// they compress roughly as game data files do, different for every seed.
std::string Content(uint64_t seed) {
  static const char* kWords[] = {"terrain", "block", "npc", "quest", "item", "shader",
                                 "mesh", "sound", "= ", "\r\n", "region", "0x"};
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
  auto next = [&] {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    return x;
  };
  const size_t size = 1024 + next() % (7 * 1024);  // 1..8 KB
  std::string out;
  while (out.size() < size) {
    out += kWords[next() % 12];
    out += std::to_string(next() % 100000);
    out += ' ';
  }
  out.resize(size);
  return out;
}

void Write(const fs::path& path, const std::string& data) {
  std::ofstream(path, std::ios::binary).write(data.data(), std::streamsize(data.size()));
}

bool Run(const std::string& command) {
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string PublishCommand(const std::string& folder) {
  return "'" UDRA_STAGE_DIR "/udra-publish' '" + g_src.string() + "' '" + g_out.string() +
         "' --url-folder " + folder + " --quiet > /dev/null";
}

void Record(benchmark::State& state, const char* run, double seconds) {
  state.SetIterationTime(seconds);
  auto [it, added] = g_best.emplace(run, seconds);
  if (!added) it->second = std::min(it->second, seconds);
  state.counters["files/s"] = kFiles / seconds;
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_PublishNextVersion(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    ++g_version;
    for (int i = 0; i < kChangedPerVersion; ++i) {
      const size_t index = size_t(g_version * 977 + i * 101) % g_files.size();
      Write(g_files[index], Content(uint64_t(g_version) << 32 | uint64_t(index)));
    }
    sync();  // the changes' writeback does not fall into the timed run
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    if (!Run(PublishCommand("v" + std::to_string(g_version)))) {
      state.SkipWithError("udra-publish failed");
      return;
    }
    Record(state, "publish", Seconds(start));
  }
}

void BM_Md5sum_Baseline(benchmark::State& state) {
  const fs::path list = g_work / "files.list";
  {
    std::ofstream out(list, std::ios::binary);
    for (const fs::path& file : g_files) out << file.string() << '\0';
  }
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (!Run("xargs -0 md5sum < '" + list.string() + "' > /dev/null")) {
      state.SkipWithError("md5sum failed");
      return;
    }
    Record(state, "md5sum", Seconds(start));
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  char pattern[] = "/tmp/udra-bench-publish-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  g_work = pattern;
  g_src = g_work / "src";
  g_out = g_work / "out";
  for (int i = 0; i < kFiles; ++i) {
    const fs::path folder = g_src / ("zone" + std::to_string(i % kFolders));
    fs::create_directories(folder);
    g_files.push_back(folder / ("asset" + std::to_string(i) + ".dat"));
    Write(g_files.back(), Content(uint64_t(i)));
  }
  if (!Run(PublishCommand("v1"))) {
    std::fprintf(stderr, "publishing the first version failed\n");
    return 1;
  }
  auto reg = [](const char* name, void (*fn)(benchmark::State&)) {
    benchmark::RegisterBenchmark(name, fn)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
  };
  reg("publish-next-version-1pct-changed", BM_PublishNextVersion);
  reg("md5sum-same-files", BM_Md5sum_Baseline);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  if (g_best.count("publish") && g_best.count("md5sum")) {
    const double publish = g_best["publish"], md5 = g_best["md5sum"];
    std::printf("\nnext version of %d files, %d changed (fastest of 5):\n", kFiles,
                kChangedPerVersion);
    std::printf("  udra-publish %8.1f ms | md5sum over the source %8.1f ms | ratio %.2fx (aim <= 2x)\n",
                publish * 1e3, md5 * 1e3, publish / md5);
  }
  std::error_code ec;
  fs::remove_all(g_work, ec);
  return 0;
}

// UDRAHostApp.exe downloading from a local nginx into its store, against the
// curl command line fetching the same files from the same server: 2,000 files
// of 16 KiB and 10 files of 32 MiB, curl one after the other and with
// --parallel; curl's large files are piped into md5sum, as the host checks
// every file's MD5. Each host run starts from an empty store. curl also
// writes the small files to a RAM file system (/dev/shm), which takes the
// disk's cost of creating 2,000 files out of its figure; and the host's
// digest step is set against libcrypto hashing the same files one by one.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "HostTestEnv.h"
#include "host/Md5Batch.h"
#include "host/Md5Stream.h"
#include "util/Md5.h"

namespace udra::hosttest {
namespace {

struct Set {
  int count;
  size_t size;
  std::string folder;  // below the server's root
  std::vector<std::string> urls, names, digests;
};

test::TempDir* g_work;
Nginx* g_nginx;
Set g_small{2000, 16 << 10, "small", {}, {}, {}};
Set g_large{10, 32u << 20, "large", {}, {}, {}};
std::map<std::string, double> g_seconds;  // run name -> seconds of its last iteration

void Prepare(Set& set) {
  for (int i = 0; i < set.count; ++i) {
    const std::string path = set.folder + "/f" + std::to_string(i) + ".bin";
    set.digests.push_back(g_nginx->Put(path, RandomBytes(set.size, static_cast<uint32_t>(i + set.size))));
    set.urls.push_back(g_nginx->Url(path));
    set.names.push_back(set.folder + "\\f" + std::to_string(i) + ".bin");
  }
}

// CPU time of all threads of process `pid` so far, in nanoseconds.
int64_t ProcessCpuNs(int pid) {
  int64_t total = 0;
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream stat(task.path() / "schedstat");
    int64_t ns = 0;
    if (stat >> ns) total += ns;
  }
  return total;
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Report(benchmark::State& state, const std::string& run, const Set& set, double seconds) {
  state.SetIterationTime(seconds);
  g_seconds[run] = seconds;
  state.counters["files/s"] = set.count / seconds;
  state.counters["MB/s"] = set.count * static_cast<double>(set.size) / 1e6 / seconds;
}

void HostRun(benchmark::State& state, Set& set, const std::string& run) {
  for (auto _ : state) {
    state.PauseTiming();
    sync();  // the previous run's writeback does not fall into this one
    Installation install("[Host]\nMaxParallel=8\n");
    PipeClient client;
    if (!install.StartHost() || !client.Connect(install.key())) {
      state.SkipWithError("host did not start");
      return;
    }
    const int pid = RunningPidOf(install.folder() + "/UDRAHostApp.exe");
    state.ResumeTiming();
    const int64_t cpuBefore = ProcessCpuNs(pid);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < set.count; ++i)
      client.SendSync(i + 1, set.names[i], set.urls[i], static_cast<int32_t>(set.size), set.digests[i]);
    const auto answers = client.WaitReturns(static_cast<size_t>(set.count), 600000);
    const double seconds = Seconds(start);
    // What the host itself spent: steadier than the time on a busy machine.
    state.counters["host CPU us/file"] = (ProcessCpuNs(pid) - cpuBefore) / 1e3 / set.count;
    size_t ok = 0;
    for (const auto& a : answers) ok += a.ok ? 1 : 0;
    if (ok != static_cast<size_t>(set.count)) {
      state.SkipWithError("not every download succeeded");
      return;
    }
    Report(state, run, set, seconds);
  }
}

// One curl process for the whole set, each file written to disk (or into
// the folder `out`).
void CurlRun(benchmark::State& state, Set& set, const std::string& run, bool parallel, std::string out = "") {
  if (out.empty()) out = g_work->path() + "/curl-" + run;
  const std::string config = (*g_work) / ("curl-" + run + ".cfg");
  {
    std::ofstream cfg(config);
    for (int i = 0; i < set.count; ++i)
      cfg << "url = \"" << set.urls[i] << "\"\noutput = \"" << out << "/f" << i << ".bin\"\n";
  }
  const std::string command = "curl -s -f --no-progress-meter --create-dirs " +
                              std::string(parallel ? "--parallel --parallel-max 8 " : "") + "-K " + config;
  for (auto _ : state) {
    std::filesystem::remove_all(out);
    sync();  // the previous run's writeback does not fall into this one
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("curl failed");
      return;
    }
    Report(state, run, set, Seconds(start));
  }
  std::filesystem::remove_all(out);
}

// curl per file piped into md5sum, one after the other or all at once.
void CurlMd5Run(benchmark::State& state, Set& set, const std::string& run, bool parallel) {
  std::string script;
  for (int i = 0; i < set.count; ++i)
    script += "curl -s -f '" + set.urls[i] + "' | md5sum > /dev/null" + (parallel ? " &\n" : "\n");
  if (parallel) script += "wait\n";
  const std::string path = (*g_work) / ("md5-" + run + ".sh");
  std::ofstream(path) << script;
  const std::string command = "sh " + path;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("curl | md5sum failed");
      return;
    }
    Report(state, run, set, Seconds(start));
  }
}

// The digests of the small set: libcrypto one file after the other, and the
// host's Md5Digests eight at a time as its digest checker calls it.
void Md5Run(benchmark::State& state, Set& set, const std::string& run, bool lanes) {
  std::vector<std::string> files;
  for (int i = 0; i < set.count; ++i) files.push_back(RandomBytes(set.size, static_cast<uint32_t>(i + set.size)));
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    size_t matched = 0;
    if (lanes) {
      for (size_t first = 0; first < files.size(); first += 8) {
        udra::host::Md5Input inputs[8];
        uint8_t digests[8][16];
        const size_t n = std::min<size_t>(8, files.size() - first);
        for (size_t k = 0; k < n; ++k) inputs[k] = {files[first + k].data(), files[first + k].size()};
        udra::host::Md5Digests(inputs, n, digests);
        for (size_t k = 0; k < n; ++k) matched += udra::Md5::ToHex(digests[k]) == set.digests[first + k];
      }
    } else {
      udra::host::Md5Stream md5;
      for (size_t i = 0; i < files.size(); ++i) {
        md5.Update(files[i].data(), files[i].size());
        matched += md5.FinalHex() == set.digests[i];
      }
    }
    if (matched != files.size()) {
      state.SkipWithError("a digest differs");
      return;
    }
    Report(state, run, set, Seconds(start));
  }
}

void PrintSummary() {
  auto line = [](const char* what, const std::string& host, const std::string& base, const Set& set) {
    if (!g_seconds.count(host) || !g_seconds.count(base)) return;
    const double h = g_seconds[host], b = g_seconds[base];
    printf("%-34s host %8.1f files/s %8.1f MB/s | %-18s %8.1f files/s %8.1f MB/s | host/baseline %.2fx\n", what,
           set.count / h, set.count * static_cast<double>(set.size) / 1e6 / h, base.c_str(), set.count / b,
           set.count * static_cast<double>(set.size) / 1e6 / b, b / h);
  };
  printf("\nUDRAHostApp.exe against curl (same nginx on 127.0.0.1, same files):\n");
  line("2000 x 16 KiB", "host-small", "curl-small-seq", g_small);
  line("2000 x 16 KiB", "host-small", "curl-small-par", g_small);
  line("2000 x 16 KiB", "host-small", "curl-small-par-ram", g_small);
  line("MD5 of 2000 x 16 KiB (8 lanes)", "md5-lanes", "md5-libcrypto", g_small);
  line("10 x 32 MiB", "host-large", "curl-large-seq", g_large);
  line("10 x 32 MiB", "host-large", "curl-large-par", g_large);
  line("10 x 32 MiB (curl | md5sum)", "host-large", "md5-large-seq", g_large);
  line("10 x 32 MiB (curl | md5sum)", "host-large", "md5-large-par", g_large);
}

}  // namespace
}  // namespace udra::hosttest

int main(int argc, char** argv) {
  using namespace udra::hosttest;
  benchmark::Initialize(&argc, argv);
  udra::test::TempDir work;
  Nginx nginx(work.path() + "/nginx");
  std::filesystem::create_directories(work.path() + "/nginx");
  g_work = &work;
  g_nginx = &nginx;
  if (!nginx.Start()) {
    fprintf(stderr, "nginx did not start\n");
    return 1;
  }
  Prepare(g_small);
  Prepare(g_large);
  auto reg = [](const char* name, auto fn) {
    benchmark::RegisterBenchmark(name, fn)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
  };
  reg("host-small", [](benchmark::State& s) { HostRun(s, g_small, "host-small"); });
  reg("curl-small-seq", [](benchmark::State& s) { CurlRun(s, g_small, "curl-small-seq", false); });
  reg("curl-small-par", [](benchmark::State& s) { CurlRun(s, g_small, "curl-small-par", true); });
  if (std::filesystem::is_directory("/dev/shm")) {
    reg("curl-small-par-ram",
        [](benchmark::State& s) { CurlRun(s, g_small, "curl-small-par-ram", true, "/dev/shm/udra-bench-curl"); });
  }
  reg("md5-libcrypto", [](benchmark::State& s) { Md5Run(s, g_small, "md5-libcrypto", false); });
  reg("md5-lanes", [](benchmark::State& s) { Md5Run(s, g_small, "md5-lanes", true); });
  reg("host-large", [](benchmark::State& s) { HostRun(s, g_large, "host-large"); });
  reg("curl-large-seq", [](benchmark::State& s) { CurlRun(s, g_large, "curl-large-seq", false); });
  reg("curl-large-par", [](benchmark::State& s) { CurlRun(s, g_large, "curl-large-par", true); });
  reg("md5-large-seq", [](benchmark::State& s) { CurlMd5Run(s, g_large, "md5-large-seq", false); });
  reg("md5-large-par", [](benchmark::State& s) { CurlMd5Run(s, g_large, "md5-large-par", true); });
  benchmark::RunSpecifiedBenchmarks();
  PrintSummary();
  benchmark::Shutdown();
  nginx.Stop();
  return 0;
}

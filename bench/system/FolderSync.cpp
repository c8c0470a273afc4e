// Measurements 1 and 2: a folder synced through the whole system (library →
// pipe → host → HTTP → store → WM_SYNC_RETURN) against curl.
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "Installation.h"
#include "Scenarios.h"

namespace udra::sysbench {
namespace {

// One sync of the set's folder in a fresh installation, pumped as GameSession
// does; seconds, negative on failure. `callSeconds` receives the time the
// StartSync call itself took (the catalogue walk, the store checks and the
// queueing of the requests), `cpu` the CPU this process spent from StartSync
// to WM_SYNC_RETURN plus what the host used over its life (its start-up
// included).
double SystemRun(const Context& context, const DataSet& set, bool verify, double& callSeconds, double& cpu) {
  Installation install(context.catalogue, "MaxParallel=8\n");
  std::string error;
  double initSeconds = 0;
  if (!install.ready() || !install.Open(error) || !install.Initialize(context.urlRoot, initSeconds, error)) {
    printf("  system: installation failed: %s\n", error.c_str());
    return -1;
  }
  tool::GameSession& game = install.session();
  const size_t returnsBefore = game.syncReturns().size();
  const double cpuStart = SelfCpuSeconds();
  const auto start = Clock::now();
  const int32_t id = install.manager()->StartSync(set.folder.c_str(), game.window(), 0, 0);
  callSeconds = SecondsSince(start);
  const bool returned = id != -1 && game.PumpUntil(
                                        [&] {
                                          const auto& returns = game.syncReturns();
                                          for (size_t i = returnsBefore; i < returns.size(); ++i)
                                            if (returns[i] == id) return true;
                                          return false;
                                        },
                                        300000);
  const double seconds = SecondsSince(start);
  cpu = SelfCpuSeconds() - cpuStart + std::max(0.0, install.HostCpuSeconds());
  SyncInfo info{};
  install.manager()->GetSyncInfo(id, &info);
  if (!returned || info.state != UDRA_SYNC_DONE || info.doneSize != info.totalSize) {
    printf("  system: sync of %s ended with state %d (%s), %lld of %lld bytes\n", set.folder.c_str(), info.state,
           returned ? "returned" : "no WM_SYNC_RETURN", static_cast<long long>(info.doneSize),
           static_cast<long long>(info.totalSize));
    return -1;
  }
  if (verify) {
    const std::string digest = install.ReadDigest(set.FileKey(0));
    if (digest != set.firstDigest) {
      printf("  system: %s read back with MD5 %s, expected %s\n", set.FileKey(0).c_str(), digest.c_str(),
             set.firstDigest.c_str());
      return -1;
    }
  }
  return seconds;
}

std::vector<std::string> Figures(const DataSet& set, double seconds, double cpu) {
  const double mb = static_cast<double>(set.servedBytes) / 1e6;
  return {Fmt("%.3f", seconds), Fmt("%.1f", set.count / seconds), Fmt("%.1f", mb / seconds), Fmt("%.2f", cpu)};
}

}  // namespace

bool MeasureFolderSync(const Context& context, const DataSet& set, const std::vector<Baseline>& baselines,
                       int runs, const std::string& title, double aim, Summary& summary) {
  printf("\n%s\n", title.c_str());
  printf("  %d files of %zu bytes, %.1f MB as served (stored form); a fresh installation per system run;\n"
         "  runs alternate between the system and the baselines; the summary takes medians.\n\n",
         set.count, set.size, static_cast<double>(set.servedBytes) / 1e6);
  Table table({{"run", 42}, {"seconds", 9}, {"files/s", 9}, {"MB/s", 8}, {"CPU s", 6}, {"StartSync call s", 16}});
  Samples system, calls, systemCpu;
  std::vector<Samples> base(baselines.size()), baseCpu(baselines.size());
  bool ok = true;
  for (int run = 1; run <= runs && ok; ++run) {
    for (size_t b = 0; b < baselines.size() && ok; ++b) {
      sync();  // no run pays for the writes of the one before
      const double cpuStart = SelfCpuSeconds() + ChildrenCpuSeconds();
      const double seconds = baselines[b].run();
      const double cpu = SelfCpuSeconds() + ChildrenCpuSeconds() - cpuStart;
      if (seconds < 0) {
        printf("  baseline %s failed\n", baselines[b].name.c_str());
        ok = false;
        break;
      }
      base[b].Add(seconds);
      baseCpu[b].Add(cpu);
      std::vector<std::string> row{Fmt("#%d %s", run, baselines[b].name.c_str())};
      for (auto& cell : Figures(set, seconds, cpu)) row.push_back(cell);
      table.Row(row);
    }
    if (!ok) break;
    sync();
    double callSeconds = 0, cpu = 0;
    const double seconds = SystemRun(context, set, run == 1, callSeconds, cpu);
    if (seconds < 0) {
      ok = false;
      break;
    }
    system.Add(seconds);
    calls.Add(callSeconds);
    systemCpu.Add(cpu);
    std::vector<std::string> row{Fmt("#%d system (StartSync..WM_SYNC_RETURN)", run)};
    for (auto& cell : Figures(set, seconds, cpu)) row.push_back(cell);
    row.push_back(Fmt("%.3f", callSeconds));
    table.Row(row);
  }
  if (!ok) {
    table.Print();
    summary.push_back({title, "failed", "", "", ""});
    return false;
  }
  table.Rule();
  std::vector<std::string> row{"median system"};
  for (auto& cell : Figures(set, system.Median(), systemCpu.Median())) row.push_back(cell);
  row.push_back(Fmt("%.3f", calls.Median()));
  table.Row(row);
  for (size_t b = 0; b < baselines.size(); ++b) {
    row = {"median " + baselines[b].name};
    for (auto& cell : Figures(set, base[b].Median(), baseCpu[b].Median())) row.push_back(cell);
    table.Row(row);
  }
  table.Print();
  for (size_t b = 0; b < baselines.size(); ++b) {
    const double ratio = base[b].Median() / system.Median();
    printf("  system / %s: %.2fx%s\n", baselines[b].name.c_str(), ratio,
           b == 0 ? Fmt(" (aim %.2fx: %s)", aim, ratio >= aim ? "met" : "NOT met").c_str() : "");
  }
  const bool bytesPerSecond = set.size >= (1u << 20);
  auto figure = [&](double seconds) {
    return bytesPerSecond ? Fmt("%.1f MB/s", static_cast<double>(set.servedBytes) / 1e6 / seconds)
                          : Fmt("%.0f files/s", set.count / seconds);
  };
  summary.push_back({title, figure(system.Median()), figure(base[0].Median()) + " " + baselines[0].name,
                     Fmt("%.2fx", base[0].Median() / system.Median()), Fmt("%.2fx", aim)});
  return true;
}

}  // namespace udra::sysbench

// Benchmarks of the whole system: the real library, host, store and LZMA
// module in fresh installation folders, content served by a private nginx on
// 127.0.0.1, and this program playing the game. Every figure is printed next
// to a baseline measured in the same run.
//
//   udra_bench_system [--only LIST] [--runs N]
//
// LIST picks measurements by number (e.g. "1,3"); N sets the runs of 1, 2
// and 3 (default 5, 3 and 5). See README.md.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "Baselines.h"
#include "CatalogueGenerator.h"
#include "HostAlone.h"
#include "HostTestEnv.h"
#include "Scenarios.h"
#include "support/TempDir.h"

namespace udra::sysbench {
namespace {

struct Options {
  std::set<int> only;
  int runs = 0;  // 0: five runs of 1 and 3, three of 2 (the long one)
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--only" || arg == "--runs") && i + 1 < argc) {
      const std::string value = argv[++i];
      if (arg == "--runs") {
        options.runs = std::atoi(value.c_str());
        if (options.runs < 1 || options.runs > 20) return false;
        continue;
      }
      for (char c : value) {
        if (c >= '1' && c <= '4') options.only.insert(c - '0');
        else if (c != ',') return false;
      }
    } else {
      return false;
    }
  }
  return true;
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

void PrintSetting() {
  printf("UDRA system benchmark: %ld CPUs, load average %s\n", sysconf(_SC_NPROCESSORS_ONLN),
         FirstLine("/proc/loadavg").c_str());
  printf("Every figure is next to its baseline from the same run; ratios are system speed / baseline speed\n"
         "(1.00x = as fast as the baseline). Other work on the machine shows in both.\n");
  fflush(stdout);
}

void PrintSummary(const Summary& summary) {
  printf("\nSummary (medians)\n");
  Table table({{"measurement", 48}, {"system", 12}, {"baseline", 48}, {"ratio", 6}, {"aim", 6}});
  for (const auto& line : summary) table.Row({line.what, line.system, line.baseline, line.ratio, line.aim});
  table.Print();
}

int Run(const Options& options) {
  auto wanted = [&](int n) { return options.only.empty() || options.only.count(n) != 0; };
  test::TempDir work, home;
  // The client GUID file goes to a private application-data folder.
  setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
  PrintSetting();

  hosttest::Nginx nginx(work / "nginx");
  std::filesystem::create_directories(work / "nginx");
  if (!nginx.Start()) {
    fprintf(stderr, "nginx did not start\n");
    return 1;
  }
  Context context;
  context.work = work.path();
  context.urlRoot = nginx.Url("");
  context.catalogue = nginx.root() + "/FileList.dat";

  DataSet small, large;
  small.folder = "small";
  small.count = 2000;
  small.size = 16 << 10;
  large.folder = "large";
  large.count = 10;
  large.distinct = 1;
  large.size = 32u << 20;
  std::string error;
  auto start = Clock::now();
  if (!Publish(work / "src", nginx.root(), context.urlRoot, {&small, &large}, error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  printf("\nPublished 2,000 x 16 KiB and 10 x 32 MiB of random bytes (udra-publish --level 0; the large\n"
         "files share one stored entry) in %.1f s (not measured)\n", SecondsSince(start));
  if (wanted(3)) {
    start = Clock::now();
    CatalogueShape shape;
    context.bigCatalogue = work / "big-FileList.dat";
    context.bigEntries = 1000000;
    if (!WriteCatalogue(context.bigCatalogue, context.bigEntries, shape)) {
      fprintf(stderr, "cannot write %s\n", context.bigCatalogue.c_str());
      return 1;
    }
    printf("Generated a FileList.dat of %zu entries (%zu folders, %zu packaged files), %.1f MB, in %.1f s"
           " (not measured)\n", shape.entries, shape.folders, shape.packaged,
           static_cast<double>(shape.bytes) / 1e6, SecondsSince(start));
  }
  sync();  // the published and generated files reach the disk before anything is timed
  fflush(stdout);

  Summary summary;
  bool ok = true;
  const std::string curlOut = work / "curl-out";
  if (wanted(1)) {
    ok &= MeasureFolderSync(
        context, small,
        {{"curl --parallel-max 8 > /dev/null", [&] { return CurlParallel(small.urls, "", work.path()); }},
         {"curl --parallel-max 8 into files", [&] { return CurlParallel(small.urls, curlOut, work.path()); }},
         {"host alone over its pipe", [&] { return HostAloneRun(small); }}},
        options.runs ? options.runs : 5, "1. Sync of a folder of 2,000 files x 16 KiB", 0.8, summary);
  }
  if (wanted(2)) {
    ok &= MeasureFolderSync(context, large,
                            {{"curl into files, md5sum, sync, 10 at once",
                              [&] { return CurlFilesMd5(large.urls, curlOut, work.path()); }},
                             {"curl | md5sum, 10 at once", [&] { return CurlMd5(large.urls, true, work.path()); }},
                             {"curl | md5sum, one by one", [&] { return CurlMd5(large.urls, false, work.path()); }},
                             {"host alone over its pipe", [&] { return HostAloneRun(large); }}},
                            options.runs ? options.runs : 3, "2. Sync of 10 files x 32 MiB", 0.95, summary);
  }
  if (wanted(3)) ok &= MeasureStartUp(context, options.runs ? options.runs : 5, summary);
  if (wanted(4)) ok &= MeasureNotification(context, small, 2000, summary);
  PrintSummary(summary);
  nginx.Stop();
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace udra::sysbench

int main(int argc, char** argv) {
  udra::sysbench::Options options;
  if (!udra::sysbench::ParseOptions(argc, argv, options)) {
    fprintf(stderr, "usage: %s [--only 1,2,3,4] [--runs N]\n", argv[0]);
    return 2;
  }
  return udra::sysbench::Run(options);
}

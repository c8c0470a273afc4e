#include "HostAlone.h"

#include <cstdio>

#include "HostTestEnv.h"
#include "Measure.h"

namespace udra::sysbench {

double HostAloneRun(const DataSet& set) {
  hosttest::Installation install("[Host]\nMaxParallel=8\n");
  hosttest::PipeClient client;
  if (!install.StartHost() || !client.Connect(install.key())) {
    printf("  host alone: the host did not start\n");
    return -1;
  }
  const auto start = Clock::now();
  for (int i = 0; i < set.count; ++i) {
    if (!client.SendSync(i + 1, set.FileKey(i), set.urls[size_t(i)], set.packedSizes[size_t(i)],
                         set.packedDigests[size_t(i)])) {
      printf("  host alone: cannot send request %d\n", i + 1);
      return -1;
    }
  }
  const auto answers = client.WaitReturns(static_cast<size_t>(set.count), 300000);
  const double seconds = SecondsSince(start);
  size_t ok = 0;
  for (const auto& answer : answers) ok += answer.ok ? 1 : 0;
  if (ok != static_cast<size_t>(set.count)) {
    printf("  host alone: %zu of %d downloads succeeded\n", ok, set.count);
    return -1;
  }
  return seconds;
}

}  // namespace udra::sysbench

// Measurement 4: StartSync of a file already in the store to its
// WM_SYNC_RETURN, against a post → dispatch round trip of the message
// system alone, both on the game's thread in the same installation.
#include <cstdio>

#include "Installation.h"
#include "MessageProbe.h"
#include "Scenarios.h"

namespace udra::sysbench {

bool MeasureNotification(const Context& context, const DataSet& set, int samples, Summary& summary) {
  const std::string title = "4. StartSync of a present file .. WM_SYNC_RETURN";
  printf("\n%s\n", title.c_str());
  printf("  %d samples each, interleaved, one fresh installation whose store already holds %s;\n"
         "  the game's thread spins on udra_peek_message; baseline: udra_post_message to a window → dispatch.\n\n",
         samples, set.FileKey(0).c_str());
  Installation install(context.catalogue, "");
  std::string error;
  double initSeconds = 0;
  SyncInfo info{};
  if (!install.ready() || !install.Open(error) || !install.Initialize(context.urlRoot, initSeconds, error) ||
      !install.session().Sync(set.FileKey(0), 0, 30000, nullptr, info) || info.state != UDRA_SYNC_DONE) {
    printf("  system: preparing the installation failed: %s (sync state %d)\n", error.c_str(), info.state);
    summary.push_back({title, "failed", "", "", ""});
    return false;
  }
  MessageProbe probe;
  if (!probe.Open(install.folder() + "/libUDRAClient.so", error)) {
    printf("  %s\n", error.c_str());
    summary.push_back({title, "failed", "", "", ""});
    return false;
  }
  Samples sync, post;
  for (int i = 0; i < samples; ++i) {
    const double p = probe.PostRoundTrip();
    int32_t state = -1;
    const double s = probe.SyncRoundTrip(install.manager(), set.FileKey(0), state);
    if (p < 0 || s < 0 || state != UDRA_SYNC_DONE) {
      printf("  sample %d failed: post %.6f s, sync %.6f s, state %d\n", i, p, s, state);
      summary.push_back({title, "failed", "", "", ""});
      return false;
    }
    post.Add(p);
    sync.Add(s);
  }
  Table table({{"microseconds", 36}, {"median", 8}, {"p10", 8}, {"p90", 8}, {"p99", 8}, {"mean", 8}});
  auto row = [&](const char* name, const Samples& s) {
    table.Row({name, Fmt("%.1f", s.Median() * 1e6), Fmt("%.1f", s.Percentile(10) * 1e6),
               Fmt("%.1f", s.Percentile(90) * 1e6), Fmt("%.1f", s.Percentile(99) * 1e6), Fmt("%.1f", s.Mean() * 1e6)});
  };
  row("system: StartSync .. WM_SYNC_RETURN", sync);
  row("baseline: post .. dispatch", post);
  table.Print();
  printf("  system / baseline (medians): the notification takes %.1f times the bare round trip\n",
         sync.Median() / post.Median());
  summary.push_back({title, Fmt("%.1f us", sync.Median() * 1e6), Fmt("%.1f us post..dispatch", post.Median() * 1e6),
                     Fmt("%.2fx", post.Median() / sync.Median()), "-"});
  return true;
}

}  // namespace udra::sysbench

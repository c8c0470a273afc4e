// Measurement 3: Initialize to WM_INIT_RESULT with a large catalogue against
// reading + MD5 of the same file.
#include <cstdio>

#include "Baselines.h"
#include "Installation.h"
#include "Scenarios.h"

namespace udra::sysbench {
namespace {

// Initialize of a fresh installation with `catalogue`; seconds, negative on failure.
double InitRun(const Context& context, const std::string& catalogue) {
  Installation install(catalogue, "");
  std::string error;
  double seconds = -1;
  if (!install.ready() || !install.Open(error) || !install.Initialize(context.urlRoot, seconds, error)) {
    printf("  system: start-up failed: %s\n", error.c_str());
    return -1;
  }
  return seconds;
}

}  // namespace

bool MeasureStartUp(const Context& context, int runs, Summary& summary) {
  const std::string title = Fmt("3. Start-up with a %zu-entry FileList.dat", context.bigEntries);
  printf("\n%s\n", title.c_str());
  printf("  Initialize .. WM_INIT_RESULT in a fresh installation (library loaded beforehand; the host is\n"
         "  launched, the pipe connected, the catalogue loaded); baseline: reading the file in 1 MiB\n"
         "  pieces + its MD5 with libcrypto, as md5sum does. For reference: reading it into one buffer +\n"
         "  the library's own MD5, the least a loader that keeps the bytes pays with that MD5.\n"
         "  The small catalogue (2,010 entries) shows the part that does not depend on the catalogue.\n\n");
  Table table({{"run", 44}, {"ms", 9}});
  Samples big, small, base, own;
  std::string digest, ownDigest;
  for (int run = 1; run <= runs; ++run) {
    const double b = StreamMd5(context.bigCatalogue, digest);
    const double o = WholeFileMd5(context.bigCatalogue, ownDigest);
    const double s = InitRun(context, context.catalogue);
    const double l = InitRun(context, context.bigCatalogue);
    if (b < 0 || o < 0 || s < 0 || l < 0 || digest != ownDigest) {
      if (b < 0 || o < 0 || digest != ownDigest) printf("  baseline: cannot read %s\n", context.bigCatalogue.c_str());
      table.Print();
      summary.push_back({title, "failed", "", "", ""});
      return false;
    }
    base.Add(b);
    own.Add(o);
    small.Add(s);
    big.Add(l);
    table.Row({Fmt("#%d read + MD5 like md5sum (baseline)", run), Fmt("%.1f", b * 1e3)});
    table.Row({Fmt("#%d into memory + the library's MD5", run), Fmt("%.1f", o * 1e3)});
    table.Row({Fmt("#%d system, small catalogue", run), Fmt("%.1f", s * 1e3)});
    table.Row({Fmt("#%d system, large catalogue", run), Fmt("%.1f", l * 1e3)});
  }
  table.Rule();
  table.Row({"median read + MD5 like md5sum (baseline)", Fmt("%.1f", base.Median() * 1e3)});
  table.Row({"median into memory + the library's MD5", Fmt("%.1f", own.Median() * 1e3)});
  table.Row({"median system, small catalogue", Fmt("%.1f", small.Median() * 1e3)});
  table.Row({"median system, large catalogue", Fmt("%.1f", big.Median() * 1e3)});
  table.Row({"  of which the large catalogue", Fmt("%.1f", (big.Median() - small.Median()) * 1e3)});
  table.Print();
  printf("  system / baseline: %.2fx the baseline's speed (the start-up takes %.1f times as long);\n"
         "  against reading into memory + the library's own MD5: %.2fx\n",
         base.Median() / big.Median(), big.Median() / base.Median(), own.Median() / big.Median());
  summary.push_back({title, Fmt("%.0f ms", big.Median() * 1e3), Fmt("%.0f ms read + MD5", base.Median() * 1e3),
                     Fmt("%.2fx", base.Median() / big.Median()), "-"});
  return true;
}

}  // namespace udra::sysbench

// The four measurements. Each prints its own table and adds one line to the
// summary; false when the system or a baseline failed (the reason printed).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Content.h"
#include "Measure.h"

namespace udra::sysbench {

struct Context {
  std::string work;       // scratch folder for baselines
  std::string urlRoot;    // the private nginx's root URL, trailing slash
  std::string catalogue;  // the published FileList.dat (both data sets)
  std::string bigCatalogue;  // the generated large FileList.dat
  size_t bigEntries = 0;
};

struct SummaryLine {
  std::string what, system, baseline, ratio, aim;
};
using Summary = std::vector<SummaryLine>;

// A named baseline: seconds of one run, negative on failure.
struct Baseline {
  std::string name;
  std::function<double()> run;
};

// 1 and 2: StartSync of a data set's folder to its WM_SYNC_RETURN in a fresh
// installation, against each baseline; the first baseline is the one the
// aim refers to. Throughput ratio = baseline time / system time.
bool MeasureFolderSync(const Context& context, const DataSet& set, const std::vector<Baseline>& baselines,
                       int runs, const std::string& title, double aim, Summary& summary);

// 3: Initialize to WM_INIT_RESULT with the large catalogue (and, for
// reference, with the small published one) against reading + MD5 of it.
bool MeasureStartUp(const Context& context, int runs, Summary& summary);

// 4: StartSync of a file already in the store to WM_SYNC_RETURN against a
// post → dispatch round trip of the message system alone.
bool MeasureNotification(const Context& context, const DataSet& set, int samples, Summary& summary);

}  // namespace udra::sysbench

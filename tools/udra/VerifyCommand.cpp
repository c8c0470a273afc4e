// udra verify: the store checked against the catalogue, without the host.
#include <cstdio>
#include <string>
#include <vector>

#include "Commands.h"
#include "GameSession.h"
#include "platform/CodePage.h"
#include "platform/Terminal.h"

namespace udra::tool {
namespace {

std::string Display(const char* ansi) {
  const std::string utf8 = platform::AnsiToUtf8(ansi);
  return utf8.empty() ? ansi : utf8;
}

struct Report {
  bool json = false;
  bool terminal = false;
  bool drawn = false;
};

void OnProgress(void* context, uint32_t done, uint32_t total) {
  auto* report = static_cast<Report*>(context);
  if (!report->terminal || (done % 64 != 0 && done != total)) return;
  const int width = 30;
  const int filled = total ? int(uint64_t(done) * width / total) : width;
  std::fprintf(stderr, "\rverifying [%.*s%*s] %u/%u", filled, "##############################", width - filled, "",
               done, total);
  std::fflush(stderr);
  report->drawn = true;
}

void OnFinding(void* context, const UDRAVerifyFinding* f) {
  auto* report = static_cast<Report*>(context);
  if (report->drawn) {
    std::fprintf(stderr, "\n");
    report->drawn = false;
  }
  const std::string name = Display(f->name);
  if (report->json) {
    std::printf("{\"kind\":\"%s\",\"name\":%s,\"detail\":%s,\"repaired\":%s}\n", f->kind, JsonString(name).c_str(),
                JsonString(Display(f->detail)).c_str(), f->repaired ? "true" : "false");
  } else {
    std::printf("%-8s %s: %s%s\n", f->kind, name.c_str(), Display(f->detail).c_str(),
                f->repaired ? " (removed)" : "");
  }
}

}  // namespace

int VerifyCommand(const Options& options) {
  GameSession session;
  std::string error;
  if (!session.Open(options.dir, error)) {
    std::fprintf(stderr, "udra: %s\n", error.c_str());
    return 1;
  }
  auto verify = reinterpret_cast<UDRA_VerifyStoreFn>(session.Symbol("udra_verify_store"));
  if (!verify) {
    std::fprintf(stderr, "udra: this library cannot verify its store\n");
    return 1;
  }
  std::vector<const char*> paths;
  for (const std::string& p : options.paths) paths.push_back(p.c_str());
  Report report;
  report.json = options.json;
  report.terminal = platform::StandardErrorIsTerminal();
  UDRAVerifySummary summary{};
  const int rc = verify(session.manager(), paths.data(), uint32_t(paths.size()), options.repair ? 1 : 0, OnFinding,
                        OnProgress, &report, &summary);
  if (report.drawn) std::fprintf(stderr, "\n");
  if (rc == -2) {
    std::fprintf(stderr, "udra: the store of %s records no digests and cannot be verified\n", options.dir.c_str());
    return 1;
  }
  if (rc != 0) {
    std::fprintf(stderr, "udra: cannot load the store and the catalogue of %s (see its Logs folder)\n",
                 options.dir.c_str());
    return 1;
  }
  if (options.json) {
    std::printf("{\"entries\":%u,\"verified\":%u,\"missing\":%u,\"problems\":%u,\"repaired\":%u}\n", summary.entries,
                summary.verified, summary.missing, summary.problems, summary.repaired);
  } else {
    std::printf("%u entries checked: %u good, %u wanting%s; not downloaded yet: %u\n",
                summary.entries, summary.verified, summary.problems,
                summary.repaired ? (", " + std::to_string(summary.repaired) + " removed").c_str() : "",
                summary.missing);
  }
  // Nothing is wrong any more once every finding was removed.
  return summary.problems > summary.repaired ? 1 : 0;
}

}  // namespace udra::tool

// UDRAHostApp.exe over an emulated wide-area link (WanRelay: 40 ms round
// trip, 100 Mbit/s; and the same with 1% packet loss), against the curl
// command line over the same link: curl --parallel over HTTP/1.1, and curl
// with HTTP/2 multiplexing over TLS. Everything runs on 127.0.0.1: a private
// nginx serves the files over http and over https with HTTP/2 (a self-signed
// certificate made here, which the host trusts through [Host] CaFile and
// curl through --cacert). Each figure is printed next to the link's bound:
// the bodies' bytes at the link's rate plus two round trips (connecting and
// the first request), which no client can beat.
//
//   udra_bench_wan [--runs N] [--only clean|lossy]
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "HostTestEnv.h"
#include "Measure.h"
#include "WanRelay.h"

namespace udra::wanbench {
namespace {

using sysbench::Fmt;
using sysbench::Samples;
using sysbench::Table;

struct Set {
  std::string label;
  int count;
  size_t size;
  std::string folder;
  std::vector<std::string> paths, names, digests;
  double bytes() const { return static_cast<double>(count) * static_cast<double>(size); }
};

struct Link {
  std::string label;
  LinkModel model;
};

struct Env {
  test::TempDir work;
  hosttest::Nginx nginx{work.path() + "/nginx"};
  std::string cert, key;
  std::string curlOut;  // where curl writes its files: a RAM file system when there is one
};

Env* g_env;

void Prepare(Set& set) {
  for (int i = 0; i < set.count; ++i) {
    const std::string path = set.folder + "/f" + std::to_string(i) + ".bin";
    set.digests.push_back(
        g_env->nginx.Put(path, hosttest::RandomBytes(set.size, static_cast<uint32_t>(i * 7919 + set.size))));
    set.paths.push_back(path);
    set.names.push_back(set.folder + "\\f" + std::to_string(i) + ".bin");
  }
}

std::string RelayUrl(bool tls, int port, const std::string& path) {
  return std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port) + "/" + path;
}

// The host in a fresh installation with an empty store (`maxParallel` 0:
// the host's default settings); seconds from the
// first request to the last answer, or -1 when a download failed.
double HostRun(const Set& set, bool tls, int relayPort, int maxParallel) {
  std::string ini = "[Host]\n";
  if (maxParallel > 0) ini += "MaxParallel=" + std::to_string(maxParallel) + "\n";
  if (tls) ini += "CaFile=" + g_env->cert + "\n";
  hosttest::Installation install(ini);
  hosttest::PipeClient client;
  if (!install.StartHost() || !client.Connect(install.key())) return -1;
  const auto start = sysbench::Clock::now();
  for (int i = 0; i < set.count; ++i)
    client.SendSync(i + 1, set.names[i], RelayUrl(tls, relayPort, set.paths[i]), static_cast<int32_t>(set.size),
                    set.digests[i]);
  const auto answers = client.WaitReturns(static_cast<size_t>(set.count), 600000);
  const double seconds = sysbench::SecondsSince(start);
  size_t ok = 0;
  for (const auto& a : answers) ok += a.ok ? 1 : 0;
  if (ok != static_cast<size_t>(set.count)) {
    fprintf(stderr, "  host: %zu of %d downloads succeeded%s%s\n", ok, set.count, answers.empty() ? "" : ": ",
            answers.empty() ? "" : answers.front().errorText.c_str());
    return -1;
  }
  return seconds;
}

// One curl process fetching the whole set, `parallel` at a time.
double CurlRun(const Set& set, bool tls, int relayPort, int parallel) {
  const std::string out = g_env->curlOut;
  const std::string config = g_env->work.path() + "/curl.cfg";
  {
    std::ofstream cfg(config);
    for (int i = 0; i < set.count; ++i)
      cfg << "url = \"" << RelayUrl(tls, relayPort, set.paths[i]) << "\"\noutput = \"" << out << "/f" << i
          << ".bin\"\n";
  }
  const std::string command = "curl -s -f --no-progress-meter --create-dirs " +
                              std::string(tls ? "--http2 --cacert '" + g_env->cert + "' " : "--http1.1 ") +
                              "--parallel --parallel-max " + std::to_string(parallel) + " -K " + config;
  std::filesystem::remove_all(out);
  const auto start = sysbench::Clock::now();
  const int status = std::system(command.c_str());
  const double seconds = sysbench::SecondsSince(start);
  std::filesystem::remove_all(out);
  return status == 0 ? seconds : -1;
}

struct Client {
  std::string label;
  bool host, tls;
  int parallel;  // transfers at once; for the host 0 means its default settings
};

struct Result {
  Samples seconds;
  WanRelay::Counters relay;
};

double Bound(const Set& set, const Link& link) {
  return set.bytes() / link.model.bytesPerSecond + 2 * link.model.roundTripSeconds;
}

std::vector<std::vector<std::string>> g_summary;

void Measure(const Set& set, const Link& link, const std::vector<Client>& clients, int runs) {
  const double bound = Bound(set, link);
  printf("\n%s over %s: %.1f MB of bodies; bound %.3f s (%.1f MB/s at the link's rate + 2 round trips)\n",
         set.label.c_str(), link.label.c_str(), set.bytes() / 1e6, bound, set.bytes() / 1e6 / bound);
  fflush(stdout);
  std::vector<Result> results(clients.size());
  // Runs of the clients alternate, so that other load on the machine falls on all of them.
  for (int run = 0; run < runs; ++run) {
    for (size_t c = 0; c < clients.size(); ++c) {
      const Client& client = clients[c];
      WanRelay relay(client.tls ? g_env->nginx.tlsPort() : g_env->nginx.port(), link.model);
      if (!relay.Start()) {
        fprintf(stderr, "relay did not start\n");
        continue;
      }
      sync();  // the previous run's writeback does not fall into this one
      const double s = client.host ? HostRun(set, client.tls, relay.port(), client.parallel)
                                   : CurlRun(set, client.tls, relay.port(), client.parallel);
      results[c].relay = relay.counters();
      if (s > 0) results[c].seconds.Add(s);
    }
  }
  Table table({{"client", 48}, {"seconds", 8}, {"MB/s", 7}, {"files/s", 8}, {"bound/time", 10}, {"conns", 5},
               {"lost", 5}});
  // The host as it is installed (default settings) against the best curl
  // at any parallelism.
  double bestCurl = 0, bestHost = 0;
  std::string bestCurlName, bestHostName;
  for (size_t c = 0; c < clients.size(); ++c) {
    const Result& r = results[c];
    if (r.seconds.empty()) {
      table.Row({clients[c].label, "failed"});
      continue;
    }
    const double s = r.seconds.Median();
    table.Row({clients[c].label, Fmt("%.3f", s), Fmt("%.2f", set.bytes() / 1e6 / s), Fmt("%.0f", set.count / s),
               Fmt("%.2fx", bound / s), Fmt("%llu", static_cast<unsigned long long>(r.relay.connections)),
               Fmt("%llu", static_cast<unsigned long long>(r.relay.lostChunks))});
    if (clients[c].host && clients[c].parallel != 0) continue;
    double& best = clients[c].host ? bestHost : bestCurl;
    std::string& name = clients[c].host ? bestHostName : bestCurlName;
    if (set.count / s > best) {
      best = set.count / s;
      name = clients[c].label;
    }
  }
  table.Print();
  if (bestHost > 0 && bestCurl > 0) {
    printf("  host at its defaults (%s) / best curl: %.2fx; / bound: %.2fx (aim 1.00x and 0.83x, i.e. within 1.2x of it)\n",
           bestHostName.c_str(), bestHost / bestCurl, bestHost / (set.count / bound));
    const std::string what = "WAN " + link.label + ", " + set.label;
    g_summary.push_back({what + ": host (defaults) / best curl", Fmt("%.2f MB/s", bestHost * set.size / 1e6),
                         Fmt("%.2f MB/s %s", bestCurl * set.size / 1e6, bestCurlName.c_str()),
                         Fmt("%.2fx", bestHost / bestCurl), "1.00x"});
    g_summary.push_back({what + ": host (defaults) / link bound", Fmt("%.2f MB/s", bestHost * set.size / 1e6),
                         Fmt("%.2f MB/s bandwidth + 2 RTT", set.bytes() / 1e6 / bound),
                         Fmt("%.2fx", bestHost / (set.count / bound)), link.model.lossRate > 0 ? "-" : "0.83x"});
  }
  fflush(stdout);
}

}  // namespace
}  // namespace udra::wanbench

int main(int argc, char** argv) {
  using namespace udra::wanbench;
  int runs = 1;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--runs") && i + 1 < argc) {
      runs = std::max(1, atoi(argv[++i]));
    } else if (!strcmp(argv[i], "--only") && i + 1 < argc) {
      only = argv[++i];
    } else {
      fprintf(stderr, "usage: %s [--runs N] [--only clean|lossy]\n", argv[0]);
      return 2;
    }
  }
  Env env;
  g_env = &env;
  std::filesystem::create_directories(env.work.path() + "/nginx");
  if (!udra::hosttest::MakeSelfSignedCertificate(env.work.path(), env.cert, env.key)) {
    fprintf(stderr, "cannot make a certificate\n");
    return 1;
  }
  env.nginx.EnableTls(env.cert, env.key);
  if (!env.nginx.Start()) {
    fprintf(stderr, "nginx did not start\n");
    return 1;
  }
  env.curlOut = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/udra-wan-" + std::to_string(getpid())
                                                          : env.work.path() + "/curl-out";
  Set small{"2,000 x 16 KiB", 2000, 16 << 10, "small", {}, {}, {}};
  Set large{"4 x 16 MiB", 4, 16u << 20, "large", {}, {}, {}};
  Prepare(small);
  Prepare(large);
  printf("UDRAHostApp.exe over an emulated wide-area link on 127.0.0.1 (user-space relay); curl writes into %s.\n"
         "bound/time: 1.00x = as fast as the link allows; the host checks MD5s and stores every file durably.\n",
         env.curlOut.c_str());

  const std::vector<Link> links = {{"40 ms/100 Mbit/s", {0.040, 12.5e6, 0, 1}},
                                   {"40 ms/100 Mbit/s/1% loss", {0.040, 12.5e6, 0.01, 1}}};
  const int p = 64;
  const std::vector<Client> smallClients = {
      {"host, HTTP/1.1, defaults (MaxParallel=8)", true, false, 0},
      {"host, HTTP/2 over TLS, defaults (MaxStreams=64)", true, true, 0},
      {"host, HTTP/1.1, MaxParallel=64", true, false, p},
      {"curl --parallel-max 64, HTTP/1.1", false, false, p},
      {"curl --parallel-max 64, HTTP/2 over TLS", false, true, p},
  };
  const std::vector<Client> largeClients = {
      {"host, HTTP/1.1, defaults", true, false, 0},
      {"host, HTTP/2 over TLS, defaults", true, true, 0},
      {"curl --parallel, HTTP/1.1", false, false, 8},
      {"curl --parallel, HTTP/2 over TLS", false, true, 8},
  };
  for (size_t l = 0; l < links.size(); ++l) {
    if (!only.empty() && only != (l == 0 ? "clean" : "lossy")) continue;
    Measure(small, links[l], smallClients, runs);
    Measure(large, links[l], largeClients, runs);
  }
  printf("\nSummary (medians)\n");
  Table table({{"measurement", 66}, {"system", 12}, {"baseline", 48}, {"ratio", 6}, {"aim", 6}});
  for (const auto& row : g_summary) table.Row(row);
  table.Print();
  env.nginx.Stop();
  return 0;
}

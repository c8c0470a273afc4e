// udra-qosd: a QoS collector on UDP (see --help).
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "Collector.h"
#include "HtmlReport.h"
#include "Options.h"
#include "RecordStore.h"
#include "platform/Program.h"
#include "platform/Socket.h"
#include "qos/QosPacket.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnSignal(int) { g_stop = 1; }

constexpr int kPollMs = 200;

}  // namespace

int main(int argc, char** rawArgv) {
  namespace platform = udra::platform;
  // UTF-8 arguments (on Windows from the wide command line): SQLite takes
  // UTF-8 file names on every system.
  std::vector<std::string> args = platform::Utf8Arguments(argc, rawArgv);
  std::vector<char*> pointers;
  for (std::string& a : args) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  argc = int(args.size());
  char** argv = pointers.data();
  std::string error;
  if (argc > 1 && std::string(argv[1]) == "report") {
    qosd::ReportOptions report;
    if (!qosd::ParseReportOptions(argc, argv, report, error)) {
      std::fprintf(stderr, "udra-qosd: %s\n%s", error.c_str(), qosd::kUsage);
      return 2;
    }
    if (!qosd::WriteHtmlReport(report.db, report.html, error)) {
      std::fprintf(stderr, "udra-qosd: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  qosd::Options options;
  if (!qosd::ParseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "udra-qosd: %s\n%s", error.c_str(), qosd::kUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(qosd::kUsage, stdout);
    return 0;
  }
  qosd::RecordStore store;
  if (!options.db.empty() && !store.Open(options.db, error)) {
    std::fprintf(stderr, "udra-qosd: cannot use the store %s\n", error.c_str());
    return 1;
  }
  platform::SocketStartup();
  uint32_t address = 0;
  platform::SocketHandle s = platform::SocketCreate(platform::SocketKind::Datagram);
  uint16_t boundPort = 0;
  if (s == platform::kInvalidSocket || !platform::SocketParseDotted(options.address.c_str(), address) ||
      !platform::SocketBind(s, address, options.port) || !platform::SocketSetNonBlocking(s) ||
      !platform::SocketLocalPort(s, boundPort)) {
    std::fprintf(stderr, "udra-qosd: cannot listen on %s:%u\n", options.address.c_str(), options.port);
    platform::SocketClose(s);
    platform::SocketCleanup();
    return 1;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::fprintf(stderr, "udra-qosd: listening on %s:%u\n", options.address.c_str(), boundPort);
  std::fflush(stderr);

  qosd::Collector collector(options, boundPort, stdout, stderr, options.db.empty() ? nullptr : &store);
  std::vector<uint8_t> buffer(udra::qos::kQosMaxPacket + 1);
  auto lastDatagram = std::chrono::steady_clock::now();
  while (!g_stop) {
    if (options.maxRecords > 0 && collector.records() >= options.maxRecords) break;
    if (options.idleSeconds > 0 &&
        std::chrono::steady_clock::now() - lastDatagram > std::chrono::seconds(options.idleSeconds)) {
      break;
    }
    if (platform::SocketWait(s, false, kPollMs) != platform::WaitResult::Ready) continue;
    uint32_t from = 0;
    uint16_t fromPort = 0;
    long n = platform::SocketReceiveFrom(s, buffer.data(), buffer.size(), from, fromPort);
    if (n < 0) continue;
    lastDatagram = std::chrono::steady_clock::now();
    collector.Handle(s, buffer.data(), static_cast<size_t>(n), from, fromPort);
  }
  std::fprintf(stderr, "udra-qosd: %ld report records, %ld undecodable datagrams\n", collector.records(),
               collector.decodeErrors());
  platform::SocketClose(s);
  platform::SocketCleanup();
  return 0;
}

#include "Options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qosd {

const char* const kUsage =
    "usage: udra-qosd [options]\n"
    "       udra-qosd report --db FILE --html OUT\n"
    "\n"
    "A QoS collector for the UDRA client. Listens on UDP, answers QOS_GET_REQ\n"
    "with a QOS_GET_RES built from the options below, and prints every record of\n"
    "every QOS_REP packet as one JSON line on standard output:\n"
    "  {\"kind\":0,\"qos_id\":2003,\"ints\":[0,57],\"strings\":[...],\n"
    "   \"sender\":\"127.0.0.1:40000\",\"seq\":17,\"time\":1765000000}\n"
    "kind is the record's first integer (null when it has none); strings are\n"
    "converted from GBK to UTF-8. Datagrams that do not decode are reported on\n"
    "standard error and counted; the count is printed when the collector stops\n"
    "(SIGINT, SIGTERM, --max-records or --idle-exit).\n"
    "\n"
    "options:\n"
    "  --address A        listen address (default 127.0.0.1)\n"
    "  --port P           listen port (default 8080)\n"
    "  --collector IP:PORT  a collector of the answer's collector list; repeat\n"
    "                     for several, the first is the one clients report to\n"
    "                     (default: the listen address and port)\n"
    "  --game-server IP   a game server of the answer; repeat for several\n"
    "  --mask M           game-server mask of the answer (default 0.0.0.0)\n"
    "  --score N          score of the answer (default 0)\n"
    "  --group N          group id of the answer (default 0)\n"
    "  --max-records N    exit after printing N report records\n"
    "  --idle-exit S      exit after S seconds without a datagram\n"
    "  --db FILE          also store every record in the SQLite file FILE (created\n"
    "                     when missing; WAL, so several collectors can share it)\n"
    "  --help             this text\n"
    "\n"
    "report writes one self-contained HTML page from a --db store: missing and\n"
    "failed files ranked by the clients that reported them, the distribution of\n"
    "use percentages and the reports per day, as tables and SVG charts.\n";

namespace {

bool ParseNumber(const char* text, long min, long max, long& value) {
  if (!text || !*text) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  value = v;
  return true;
}

bool ParseCollector(const std::string& text, CollectorEntry& entry) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon > 31) return false;
  long port = 0;
  if (!ParseNumber(text.c_str() + colon + 1, 0, 65535, port)) return false;
  entry.ip = text.substr(0, colon);
  entry.port = static_cast<uint32_t>(port);
  return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      o.help = true;
      continue;
    }
    if (i + 1 >= argc) {
      error = "missing value after " + name;
      return false;
    }
    const char* value = argv[++i];
    long n = 0;
    bool ok = true;
    if (name == "--address") {
      o.address = value;
    } else if (name == "--port") {
      ok = ParseNumber(value, 0, 65535, n);
      o.port = static_cast<uint16_t>(n);
    } else if (name == "--collector") {
      CollectorEntry entry;
      ok = ParseCollector(value, entry) && o.collectors.size() < 32;
      o.collectors.push_back(entry);
    } else if (name == "--game-server") {
      ok = std::strlen(value) < 32 && o.gameServers.size() < 64;
      o.gameServers.push_back(value);
    } else if (name == "--mask") {
      ok = std::strlen(value) < 32;
      o.mask = value;
    } else if (name == "--score") {
      ok = ParseNumber(value, 0, 65535, n);
      o.score = static_cast<uint16_t>(n);
    } else if (name == "--group") {
      ok = ParseNumber(value, 0, 65535, n);
      o.groupId = static_cast<uint16_t>(n);
    } else if (name == "--max-records") {
      ok = ParseNumber(value, 0, 1L << 30, o.maxRecords);
    } else if (name == "--idle-exit") {
      ok = ParseNumber(value, 0, 86400, o.idleSeconds);
    } else if (name == "--db") {
      ok = *value != '\0';
      o.db = value;
    } else {
      error = "unknown option " + name;
      return false;
    }
    if (!ok) {
      error = "bad value for " + name + ": " + value;
      return false;
    }
  }
  return true;
}

bool ParseReportOptions(int argc, char** argv, ReportOptions& o, std::string& error) {
  for (int i = 2; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc || (name != "--db" && name != "--html")) {
      error = i + 1 >= argc && (name == "--db" || name == "--html") ? "missing value after " + name
                                                                     : "unknown report option " + name;
      return false;
    }
    (name == "--db" ? o.db : o.html) = argv[++i];
  }
  if (o.db.empty() || o.html.empty()) {
    error = "report needs --db FILE and --html OUT";
    return false;
  }
  return true;
}

}  // namespace qosd

// Command line of udra-qosd.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qosd {

struct CollectorEntry {
  std::string ip;
  uint32_t port = 0;
};

struct Options {
  std::string address = "127.0.0.1";
  uint16_t port = 8080;
  std::vector<CollectorEntry> collectors;  // empty: this collector alone
  std::vector<std::string> gameServers;
  std::string mask = "0.0.0.0";
  uint16_t score = 0;
  uint16_t groupId = 0;
  long maxRecords = 0;   // exit after printing this many report records (0: never)
  long idleSeconds = 0;  // exit after this long without a datagram (0: never)
  std::string db;        // --db: also store the records in this SQLite file
  bool help = false;
};

extern const char* const kUsage;

// `udra-qosd report --db FILE --html OUT`.
struct ReportOptions {
  std::string db;
  std::string html;
};

// False (with a message in `error`) on a bad command line.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);
// argv[1] is "report".
bool ParseReportOptions(int argc, char** argv, ReportOptions& options, std::string& error);

}  // namespace qosd

// The quality-of-service report sent at shut-down: when it is due, and the
// summary and path-list packets it is made of.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "log/Logger.h"

namespace udra::qos {

// The schedule check: reads ReportInterval (default 10; negative counts as
// 10; 0 switches reports off) and LastReport (default 0) from section ZEPH of
// `iniPath` ("UDRAClient.ini") and writes the new LastReport. True when a
// report is due now.
bool IsQosReportDue(const std::string& iniPath);

// The statistics host of the deployment: ServerHost (a name or a dotted
// address; empty when not configured) and ServerPort (default 8080) in
// section ZEPH of `iniPath`.
struct QosServer {
  std::string host;
  uint16_t port = 8080;
};
QosServer ReadQosServer(const std::string& iniPath);

// Share of the entries with a non-zero use count that were used during this
// run, times 100, truncated; 0 when there is none. Each item: (use count, used
// this run).
int QosUsePercentage(const std::vector<std::pair<uint32_t, bool>>& useRecord);

struct QosReportInput {
  explicit QosReportInput(const Logger& logger) : log(logger) {}

  std::string version;         // "UDRA v%hu.%hu.%hu.%hu"
  std::string uin;
  std::string clientGuid;
  std::string fileListDigest;  // empty when no file list was loaded
  int usePercentage = 0;
  std::vector<std::string> heavyPaths;    // use count 200 or more, in path order
  std::vector<std::string> missingPaths;
  std::vector<std::string> failedPaths;
  const Logger& log;  // receives the "[ZEPH][%d]:%s" lines
  std::string host;   // statistics host; empty: nothing is sent
  uint16_t port = 8080;
};

// Sends the summary and the three path lists. False when the host is not
// configured, the handle cannot be created, a packet fails, or the handle
// reports an error when destroyed; packets sent before a failure stay sent.
// Time: sends never wait, so the report is bounded by the handle's creation:
// at most 3 collector queries of 2 s plus one 3 s exchange for a dotted host,
// plus the system's name resolution for a host given by name. That bound is
// kept as it is rather than cut further: a shorter query would drop reports
// to collectors that answer slowly.
bool QosReport(const QosReportInput& input);

}  // namespace udra::qos

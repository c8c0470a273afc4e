#include "qos/QosReport.h"

#include <cstdint>

#include "platform/Profile.h"
#include "qos/QosRecords.h"
#include "qos/QosReportPackets.h"
#include "qos/ZephHandle.h"

namespace udra::qos {
namespace {

constexpr const char* kSection = "ZEPH";
constexpr int kDefaultInterval = 10;

}  // namespace

bool IsQosReportDue(const std::string& iniPath) {
  if (iniPath.empty()) return false;
  int interval = platform::ReadProfileInt(iniPath, kSection, "ReportInterval", kDefaultInterval);
  const int last = platform::ReadProfileInt(iniPath, kSection, "LastReport", 0);
  if (interval < 0) interval = kDefaultInterval;
  if (interval == 0) return false;
  // A count at INT_MAX starts again instead of overflowing.
  const int count = (last < 0 || last == INT32_MAX) ? 1 : last + 1;
  if (count >= interval) {
    platform::WriteProfileString(iniPath, kSection, "LastReport", "0");
    return true;
  }
  platform::WriteProfileString(iniPath, kSection, "LastReport", std::to_string(count).c_str());
  return false;
}

QosServer ReadQosServer(const std::string& iniPath) {
  QosServer server;
  platform::ReadProfileString(iniPath, kSection, "ServerHost", server.host);
  const int port = platform::ReadProfileInt(iniPath, kSection, "ServerPort", kZephDefaultPort);
  // A port outside 1..65535 is a configuration error: no report is sent.
  if (port < 1 || port > 65535) {
    server.host.clear();
  } else {
    server.port = static_cast<uint16_t>(port);
  }
  return server;
}

int QosUsePercentage(const std::vector<std::pair<uint32_t, bool>>& useRecord) {
  uint64_t counted = 0;
  uint64_t used = 0;
  for (const auto& item : useRecord) {
    if (item.first == 0) continue;
    ++counted;
    if (item.second) ++used;
  }
  return counted == 0 ? 0 : static_cast<int>(used * 100 / counted);
}

bool QosReport(const QosReportInput& in) {
  if (in.host.empty()) return false;
  ZephHandle* h = nullptr;
  char err[kZephErrorTextSize] = {};
  if (zeph_create_protohandle(&h, in.host, in.port, err) != 0) return false;
  bool ok = false;
  try {
    ok = SendReportPackets(in, [h](const QOSRep& rep) { return SendReport(h, rep) == 0; });
  } catch (...) {
    ok = false;
  }
  if (zeph_destroy_protohandle(h) != 0) ok = false;
  return ok;
}

}  // namespace udra::qos

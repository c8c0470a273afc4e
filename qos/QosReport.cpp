#include "qos/QosReport.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/Profile.h"
#include "qos/QosRecords.h"
#include "qos/ZephHandle.h"

namespace udra::qos {
namespace {

constexpr const char* kSection = "ZEPH";
constexpr int kDefaultInterval = 10;
constexpr int32_t kReportQosId = 2003;
constexpr size_t kPathsPerRecord = 7;
constexpr size_t kRecordsPerPacket = QOS_CS_MAX_REP;
constexpr size_t kPathsPerPacket = kPathsPerRecord * kRecordsPerPacket;
constexpr size_t kSlotText = QOS_CS_ADINFO_STR_LEN - 1;

enum RecordKind : int32_t { kSummary = 0, kHeavilyUsed = 1, kMissing = 2, kFailed = 3 };

// Identity strings keep their first 127 bytes.
void CopyHead(char* slot, const std::string& text) {
  const size_t n = text.size() < kSlotText ? text.size() : kSlotText;
  std::memcpy(slot, text.data(), n);
  slot[n] = '\0';
}

// A long path keeps its last 127 bytes: the file name end is what tells paths apart.
void CopyTail(char* slot, const std::string& text) {
  const size_t n = text.size() < kSlotText ? text.size() : kSlotText;
  std::memcpy(slot, text.data() + (text.size() - n), n);
  slot[n] = '\0';
}

void ClearReport(QOSRep& rep) {
  std::memset(&rep, 0, sizeof(rep));
  rep.BusinessID = kZephBusinessId;
}

QOSAppendDescComm& AddRecord(QOSRep& rep) {
  QOSCSQosRep& r = rep.QosList[rep.QosNum++];
  r.QosID = kReportQosId;
  r.QosVal = 0;
  r.AppendDescFlag = QOS_APPEND_DESC_COMM;
  return r.AppendDesc.Comm;
}

void AddIdentity(QOSAppendDescComm& c, const QosReportInput& in) {
  CopyHead(c.StrList[c.StrNum++], in.version);
  CopyHead(c.StrList[c.StrNum++], in.uin);
  CopyHead(c.StrList[c.StrNum++], in.clientGuid);
}

void LogPacket(const Logger& log, const QOSRep& rep) {
  for (int32_t i = 0; i < rep.QosNum; ++i) {
    const QOSAppendDescComm& c = rep.QosList[i].AppendDesc.Comm;
    std::string text = "|";
    for (int32_t k = 0; k < c.IntNum; ++k) text += std::to_string(c.IntList[k]) + "|";
    for (int32_t k = 0; k < c.StrNum; ++k) {
      text += c.StrList[k];
      text += "|";
    }
    log.Format(Logger::V, "[ZEPH][%d]:%s", i, text.c_str());
  }
}

bool SendSummary(ZephHandle* h, const QosReportInput& in, QOSRep& rep) {
  ClearReport(rep);
  QOSAppendDescComm& c = AddRecord(rep);
  c.IntNum = 2;
  c.IntList[0] = kSummary;
  c.IntList[1] = in.usePercentage;
  AddIdentity(c, in);
  CopyHead(c.StrList[c.StrNum++], in.fileListDigest);
  if (SendReport(h, rep) != 0) return false;
  LogPacket(in.log, rep);
  return true;
}

// 7 paths per record, 8 records per packet; each packet is built only once
// the one before it was sent.
bool SendPaths(ZephHandle* h, const QosReportInput& in, RecordKind kind,
               const std::vector<std::string>& paths, QOSRep& rep) {
  if (paths.empty()) return true;
  for (size_t start = 0; start < paths.size(); start += kPathsPerPacket) {
    const size_t end = paths.size() - start > kPathsPerPacket ? start + kPathsPerPacket : paths.size();
    ClearReport(rep);
    for (size_t p = start; p < end; p += kPathsPerRecord) {
      QOSAppendDescComm& c = AddRecord(rep);
      c.IntNum = 1;
      c.IntList[0] = kind;
      AddIdentity(c, in);
      for (size_t k = p; k < end && k < p + kPathsPerRecord; ++k) CopyTail(c.StrList[c.StrNum++], paths[k]);
    }
    if (SendReport(h, rep) != 0) return false;
  }
  LogPacket(in.log, rep);
  return true;
}

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
  std::unique_ptr<QOSRep> rep(new (std::nothrow) QOSRep());
  if (!rep) return false;
  ZephHandle* h = nullptr;
  char err[kZephErrorTextSize] = {};
  if (zeph_create_protohandle(&h, in.host, in.port, err) != 0) return false;
  bool ok = false;
  try {
    ok = SendSummary(h, in, *rep) && SendPaths(h, in, kHeavilyUsed, in.heavyPaths, *rep) &&
         SendPaths(h, in, kMissing, in.missingPaths, *rep) &&
         SendPaths(h, in, kFailed, in.failedPaths, *rep);
  } catch (...) {
    ok = false;
  }
  if (zeph_destroy_protohandle(h) != 0) ok = false;
  return ok;
}

}  // namespace udra::qos

#include "qos/QosReportPackets.h"

#include <cstring>
#include <memory>
#include <new>

namespace udra::qos {
namespace {

constexpr int32_t kReportBusinessId = 100;
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
  rep.BusinessID = kReportBusinessId;
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

bool SendSummary(const QosReportInput& in, QOSRep& rep, const QosPacketSender& send) {
  ClearReport(rep);
  QOSAppendDescComm& c = AddRecord(rep);
  c.IntNum = 2;
  c.IntList[0] = kSummary;
  c.IntList[1] = in.usePercentage;
  AddIdentity(c, in);
  CopyHead(c.StrList[c.StrNum++], in.fileListDigest);
  if (!send(rep)) return false;
  LogPacket(in.log, rep);
  return true;
}

// 7 paths per record, 8 records per packet; each packet is built only once
// the one before it was sent.
bool SendPaths(const QosReportInput& in, RecordKind kind, const std::vector<std::string>& paths,
               QOSRep& rep, const QosPacketSender& send) {
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
    if (!send(rep)) return false;
  }
  LogPacket(in.log, rep);
  return true;
}

}  // namespace

bool SendReportPackets(const QosReportInput& in, const QosPacketSender& send) {
  std::unique_ptr<QOSRep> rep(new (std::nothrow) QOSRep());
  if (!rep) return false;
  return SendSummary(in, *rep, send) && SendPaths(in, kHeavilyUsed, in.heavyPaths, *rep, send) &&
         SendPaths(in, kMissing, in.missingPaths, *rep, send) &&
         SendPaths(in, kFailed, in.failedPaths, *rep, send);
}

}  // namespace udra::qos

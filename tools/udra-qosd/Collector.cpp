#include "Collector.h"

#include <cstring>
#include <vector>

#include "platform/System.h"
#include "JsonLine.h"
#include "RecordStore.h"
#include "qos/QosPacket.h"

namespace qosd {

using namespace udra::qos;
namespace platform = udra::platform;

namespace {

void CopySlot(char* slot, size_t size, const std::string& text) {
  std::strncpy(slot, text.c_str(), size - 1);
  slot[size - 1] = '\0';
}

std::string SenderText(uint32_t address, uint16_t port) {
  char ip[32];
  platform::SocketFormatAddress(address, ip, sizeof(ip));
  return std::string(ip) + ":" + std::to_string(port);
}

}  // namespace

Collector::Collector(const Options& options, uint16_t boundPort, std::FILE* out, std::FILE* err,
                     RecordStore* store)
    : options_(options), out_(out), err_(err), store_(store), packet_(new QOSCSPkg()), answer_(new QOSCSPkg()) {
  if (options_.collectors.empty()) options_.collectors.push_back(CollectorEntry{options_.address, boundPort});
}

void Collector::Handle(platform::SocketHandle s, const uint8_t* data, size_t length, uint32_t address,
                       uint16_t port) {
  const int32_t rc = DecodeQosPacket(data, length, *packet_);
  const std::string sender = SenderText(address, port);
  if (rc != 0) {
    ++decodeErrors_;
    std::fprintf(err_, "udra-qosd: undecodable datagram of %zu bytes from %s (code 0x%08X)\n", length,
                 sender.c_str(), static_cast<unsigned>(rc));
    std::fflush(err_);
    return;
  }
  if (packet_->Head.Cmd == QOS_GET_REQ) {
    Answer(s, address, port);
  } else if (packet_->Head.Cmd == QOS_REP) {
    Print(sender);
  }
}

void Collector::Answer(platform::SocketHandle s, uint32_t address, uint16_t port) {
  QOSCSPkg& a = *answer_;
  std::memset(&a, 0, sizeof(a));
  a.Head.Magic = QOS_CS_MAGIC;
  a.Head.Cmd = QOS_GET_RES;
  a.Head.ProtoVer = static_cast<int32_t>(kQosProtoVersion);
  a.Head.Seq = packet_->Head.Seq;
  QOSGetRes& res = a.Body.QOSGetRes;
  res.Score = options_.score;
  res.GroupID = options_.groupId;
  res.QosResFlag = packet_->Body.QOSGetReq.QosResFlag;
  res.ConndIPPortNum = static_cast<uint32_t>(options_.collectors.size());
  for (size_t i = 0; i < options_.collectors.size(); ++i) {
    CopySlot(res.ConndIPPortList[i].ConndIP, sizeof(res.ConndIPPortList[i].ConndIP), options_.collectors[i].ip);
    res.ConndIPPortList[i].ConndPort = options_.collectors[i].port;
  }
  CopySlot(res.GameSvrList.Mask, sizeof(res.GameSvrList.Mask), options_.mask);
  res.GameSvrList.GameSvrNum = static_cast<int32_t>(options_.gameServers.size());
  for (size_t i = 0; i < options_.gameServers.size(); ++i) {
    CopySlot(res.GameSvrList.GameSvrIPList[i], sizeof(res.GameSvrList.GameSvrIPList[i]), options_.gameServers[i]);
  }
  std::vector<uint8_t> bytes(kQosMaxPacket);
  size_t len = 0;
  if (EncodeQosPacket(a, bytes.data(), bytes.size(), len) != 0 ||
      platform::SocketSendTo(s, bytes.data(), len, address, port) < 0) {
    std::fprintf(err_, "udra-qosd: could not answer %s\n", SenderText(address, port).c_str());
    std::fflush(err_);
  }
}

void Collector::Print(const std::string& sender) {
  const QOSRep& rep = packet_->Body.QOSRep;
  const int64_t now = platform::UnixTime();
  const bool began = store_ && store_->Begin();
  bool stored = began;
  for (int32_t i = 0; i < rep.QosNum && i < QOS_CS_MAX_REP; ++i) {
    if (options_.maxRecords > 0 && records_ >= options_.maxRecords) break;
    std::string line = ReportRecordJson(rep.QosList[i], sender, packet_->Head.Seq, now);
    std::fprintf(out_, "%s\n", line.c_str());
    if (store_ && stored) stored = store_->Add(rep.QosList[i], sender, packet_->Head.Seq, now);
    ++records_;
  }
  // A packet is stored whole or not at all; the JSON lines went out either way.
  if (store_ && !(stored && store_->Commit())) {
    if (began) store_->Rollback();
    ++storeErrors_;
    std::fprintf(err_, "udra-qosd: could not store a packet from %s: %s\n", sender.c_str(),
                 store_->lastError().c_str());
    std::fflush(err_);
  }
  std::fflush(out_);
}

}  // namespace qosd

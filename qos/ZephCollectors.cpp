#include "qos/ZephCollectors.h"

#include <cstdio>
#include <cstring>

#include "qos/QosPacket.h"

namespace udra::qos {
namespace {

constexpr int kQueryAttempts = 3;
constexpr int kQueryWaitMs = 2000;
constexpr auto kAnswerTimeout = std::chrono::milliseconds(3000);
constexpr int kMaxSendFailures = 3;
constexpr int kExchangeWaitMs = 10;
constexpr size_t kMaxWaitSockets = 64;
constexpr uint16_t kCollectorQueryFlags = QOS_RESFLAG_GAMESVR_LIST + QOS_RESFLAG_CONNDIP_LIST;

// Text of a received fixed slot, at most `limit` characters.
std::string Cut(const char* text, size_t slot, size_t limit) {
  size_t n = 0;
  while (n < slot && n < limit && text[n] != '\0') ++n;
  return std::string(text, n);
}

std::string Cut(const std::string& text, size_t limit) { return text.substr(0, limit); }

SocketHandle OpenUdp(const std::string& host, uint32_t port) {
  char url[200];
  std::snprintf(url, sizeof(url), "udp://%s:%u", host.c_str(), port);
  return OpenSocket(url, kQueryWaitMs);
}

int SendGetReq(ZephHandle& h, SocketHandle s, uint16_t flags) {
  QOSCSPkg& pkg = *h.packet;
  std::memset(&pkg, 0, sizeof(pkg));
  pkg.Body.QOSGetReq.BusinessID = h.businessId;
  pkg.Body.QOSGetReq.QosResFlag = flags;
  pkg.Body.QOSGetReq.SpdFlag = 0;
  return SendPacket(&h, s, QOS_GET_REQ, pkg);
}

// Reads one datagram without waiting; true when it decoded.
bool ReadPacket(ZephHandle& h, SocketHandle s) {
  long n = ReceiveSome(s, h.buffer.data(), h.buffer.size(), 0);
  if (n <= 0) return false;
  return DecodeQosPacket(h.buffer.data(), static_cast<size_t>(n), *h.packet) == 0;
}

void StoreGameServers(ConndInfo& info, const QosCSGameSvrList& list) {
  info.gameSvrMask = Cut(list.Mask, sizeof(list.Mask), 31);
  info.gameSvrs.clear();
  for (int32_t i = 0; i < list.GameSvrNum && i < QOS_CS_MAX_GAMESVR; ++i) {
    info.gameSvrs.push_back(Cut(list.GameSvrIPList[i], sizeof(list.GameSvrIPList[i]), 31));
  }
}

void StoreAnswer(ConndInfo& info, const QOSGetRes& res) {
  info.groupId = res.GroupID;
  if (res.QosResFlag & QOS_RESFLAG_SCORE) {
    info.score = res.Score;
    info.flags |= QOS_RESFLAG_SCORE;
  }
  if (res.QosResFlag & QOS_RESFLAG_GAMESVR_LIST) {
    StoreGameServers(info, res.GameSvrList);
    info.flags |= QOS_RESFLAG_GAMESVR_LIST;
  }
  if (res.QosResFlag & QOS_RESFLAG_QOSLIST) {
    const size_t n = res.QosNum < size_t{QOS_CS_MAX_QOSLIST} ? res.QosNum : size_t{QOS_CS_MAX_QOSLIST};
    info.qosList.assign(res.QosList, res.QosList + n);
    info.flags |= QOS_RESFLAG_QOSLIST;
  }
}

void AddCollector(ZephHandle& h, ConndInfo info, SocketHandle s) {
  ConndLink link;
  link.socket = s;
  link.index = static_cast<int32_t>(h.connds.size());
  h.connds.push_back(link);
  h.conndInfo.push_back(std::move(info));
  if (h.maxSocket == platform::kInvalidSocket || s > h.maxSocket) h.maxSocket = s;
}

}  // namespace

bool IsDottedHost(const std::string& host) {
  if (host.empty()) return false;
  for (char c : host) {
    if (!((c >= '0' && c <= '9') || c == '.')) return false;
  }
  return true;
}

bool BuildSingleCollector(ZephHandle& h) {
  SocketHandle s = OpenUdp(h.host, h.port);
  if (s == platform::kInvalidSocket) return false;
  ConndInfo info;
  info.address = Cut(h.host, 127);
  info.groupId = 0;
  info.connds.push_back(ConndAddress{Cut(h.host, 31), h.port});
  info.flags = QOS_RESFLAG_CONNDIP_LIST + QOS_RESFLAG_GAMESVR_LIST;
  info.gameSvrMask = "0.0.0.0";
  info.gameSvrs.push_back(Cut(h.host, 31));
  AddCollector(h, std::move(info), s);
  return true;
}

bool QueryCollectorList(ZephHandle& h) {
  SocketHandle q = OpenUdp(h.host, h.port);
  if (q == platform::kInvalidSocket) return false;
  bool answered = false;
  bool broken = false;
  for (int attempt = 0; attempt < kQueryAttempts && !answered && !broken; ++attempt) {
    if (SendGetReq(h, q, kCollectorQueryFlags) != 0) continue;
    const uint32_t sent = h.seq;
    if (platform::SocketWait(q, false, kQueryWaitMs) != platform::WaitResult::Ready) continue;
    long n = ReceiveSome(q, h.buffer.data(), h.buffer.size(), 0);
    if (n <= 0) continue;  // nothing, or a refusal: the attempt is used up
    if (DecodeQosPacket(h.buffer.data(), static_cast<size_t>(n), *h.packet) != 0) {
      broken = true;
    } else {
      answered = h.packet->Head.Seq == sent && h.packet->Head.Cmd == QOS_GET_RES;
    }
  }
  CloseSocket(q);
  if (!answered) return false;

  const QOSGetRes& res = h.packet->Body.QOSGetRes;
  if (res.ConndIPPortNum < 1 || res.ConndIPPortNum > QOS_CS_MAX_CONNDIP) return false;
  ConndInfo info;
  const QOSConndIPPortList& first = res.ConndIPPortList[0];
  info.address = Cut(first.ConndIP, sizeof(first.ConndIP), 127);
  info.groupId = res.GroupID;
  for (uint32_t i = 0; i < res.ConndIPPortNum; ++i) {
    const QOSConndIPPortList& c = res.ConndIPPortList[i];
    info.connds.push_back(ConndAddress{Cut(c.ConndIP, sizeof(c.ConndIP), 31), c.ConndPort});
  }
  info.flags = QOS_RESFLAG_CONNDIP_LIST;
  if (info.address == h.host) {
    StoreGameServers(info, res.GameSvrList);
    info.flags |= QOS_RESFLAG_GAMESVR_LIST;
  }
  SocketHandle s = OpenUdp(info.address, first.ConndPort);
  if (s == platform::kInvalidSocket) return false;
  AddCollector(h, std::move(info), s);
  return true;
}

void RunExchange(ZephHandle& h) {
  std::vector<SocketHandle> sockets;
  bool flags[kMaxWaitSockets];
  for (;;) {
    bool pending = false;
    for (ConndLink& c : h.connds) {
      if (c.state == kConndQueryPending) {
        if (SendGetReq(h, c.socket, h.resFlag) == 0) {
          c.sentAt = std::chrono::steady_clock::now();
          c.state = kConndQuerySent;
        } else if (++c.sendFailures > kMaxSendFailures) {
          c.state = kConndDone;
        }
      } else if (c.state == kConndQuerySent && h.now - c.sentAt > kAnswerTimeout) {
        h.conndInfo[c.index].flags |= kConndTimedOut;
        c.state = kConndDone;
      }
      pending = pending || c.state != kConndDone;
    }
    if (!pending) return;
    h.now = std::chrono::steady_clock::now();

    sockets.clear();
    for (const ConndLink& c : h.connds) {
      bool seen = false;
      for (SocketHandle s : sockets) seen = seen || s == c.socket;
      if (!seen && sockets.size() < kMaxWaitSockets) sockets.push_back(c.socket);
    }
    if (platform::SocketWaitAnyReadable(sockets.data(), sockets.size(), kExchangeWaitMs, flags) !=
        platform::WaitResult::Ready) {
      continue;
    }
    for (size_t i = 0; i < sockets.size(); ++i) {
      if (!flags[i] || !ReadPacket(h, sockets[i]) || h.packet->Head.Cmd != QOS_GET_RES) continue;
      for (ConndLink& c : h.connds) {
        if (c.socket != sockets[i] || c.state != kConndQuerySent) continue;
        StoreAnswer(h.conndInfo[c.index], h.packet->Body.QOSGetRes);
        c.state = kConndDone;
      }
    }
  }
}

}  // namespace udra::qos

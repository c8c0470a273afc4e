// The QoS protocol handle: UDP links to the QoS collectors, the collector
// query, and the sending of QOSCSPkg datagrams. A handle lives for one report.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qos/MetaLib.h"
#include "qos/QosRecords.h"
#include "qos/QosSocket.h"

namespace udra::qos {

// Size of the caller's error-text buffer of zeph_create_protohandle.
constexpr size_t kZephErrorTextSize = 1024;
constexpr uint16_t kZephDefaultPort = 8080;
constexpr int32_t kZephBusinessId = 100;

enum ConndState : int32_t { kConndQueryPending = 2, kConndQuerySent = 3, kConndDone = 4 };
constexpr uint32_t kConndTimedOut = 0x80000000u;

struct ConndLink {
  SocketHandle socket = platform::kInvalidSocket;
  int32_t index = 0;
  int32_t state = 0;
  int32_t sendFailures = 0;
  std::chrono::steady_clock::time_point sentAt;
};

struct ConndAddress {
  std::string ip;  // up to 31 characters
  uint32_t port = 0;
};

struct ConndInfo {
  std::string address;  // up to 127 characters
  uint32_t flags = 0;   // QOS_RESFLAG_* of what is held, kConndTimedOut
  uint16_t score = 0;
  uint16_t groupId = 0;
  std::vector<QOSCSQos> qosList;          // up to 32
  std::vector<ConndAddress> connds;       // up to 32
  std::string gameSvrMask;                // up to 31 characters
  std::vector<std::string> gameSvrs;      // up to 64, 31 characters each
};

struct ZephDescriptions {
  const MetaDesc* csPkg = nullptr;
  const MetaDesc* csHead = nullptr;
  const MetaDesc* csBody = nullptr;
  const MetaDesc* ssPkg = nullptr;
  const MetaDesc* ssHead = nullptr;
  const MetaDesc* ssBody = nullptr;
};

struct ZephHandle {
  ZephDescriptions descriptions;
  uint16_t resFlag = 0;
  int32_t businessId = 0;
  int32_t reportIndex = -1;
  std::vector<ConndLink> connds;
  std::vector<ConndInfo> conndInfo;
  SocketHandle maxSocket = platform::kInvalidSocket;
  // Refreshed by the exchange loop. Time-outs are measured on the monotonic
  // clock so that a change of the wall clock neither stalls nor cuts them.
  std::chrono::steady_clock::time_point now;
  uint32_t seq = 0;  // last sequence number used

  std::string host;  // the statistics host: a name or a dotted address
  uint16_t port = kZephDefaultPort;
  bool socketsStarted = false;
  std::vector<uint8_t> buffer;       // one encoded datagram
  std::unique_ptr<QOSCSPkg> packet;  // scratch record for sends and receives
};

// Creates the handle for the statistics host `host`:`port` and chooses the
// collector that receives reports. Returns 0, or -1 with one of "calloc err",
// "zeph_create_protohandle err", "zeph_get_qosconnd_iplist fail",
// "zeph_find_connd_by_ip fail" in `errText` (kZephErrorTextSize bytes).
int zeph_create_protohandle(ZephHandle** handle, const std::string& host, uint16_t port, char* errText);

// Closes every socket and releases the handle. Returns 0.
int zeph_destroy_protohandle(ZephHandle* handle);

// Fills the head of `pkg` (Cmd, magic, version, the next sequence number),
// encodes it and sends it once without waiting. A send that would block counts
// as sent. Returns 0 or -1.
int SendPacket(ZephHandle* handle, SocketHandle socket, uint16_t cmd, QOSCSPkg& pkg);

// Sends `report` as QOS_REP to the report collector. Returns 0 or -1.
int SendReport(ZephHandle* handle, const QOSRep& report);

}  // namespace udra::qos

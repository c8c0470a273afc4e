#include "qos/ZephHandle.h"

#include <cstring>
#include <ctime>
#include <new>
#include <random>

#include "qos/QosLibs.h"
#include "qos/QosPacket.h"
#include "qos/ZephCollectors.h"

namespace udra::qos {
namespace {

void SetError(char* errText, const char* message) {
  if (!errText) return;
  std::strncpy(errText, message, kZephErrorTextSize - 1);
  errText[kZephErrorTextSize - 1] = '\0';
}

bool LookUpDescriptions(ZephDescriptions& d) {
  const MetaLib& cs = QosCsLib();
  const MetaLib& ss = QosSsLib();
  d.csPkg = FindMeta(cs, "QOSCSPkg");
  d.csHead = FindMeta(cs, "QOSCSPkgHead");
  d.csBody = FindMeta(cs, "QOSCSPkgBody");
  d.ssPkg = FindMeta(ss, "QOSSSPkg");
  d.ssHead = FindMeta(ss, "QOSSSPkgHead");
  d.ssBody = FindMeta(ss, "QOSSSPkgBody");
  return d.csPkg && d.csHead && d.csBody && d.ssPkg && d.ssHead && d.ssBody;
}

// Runs creation steps 2 to 7; returns the error text, or nullptr.
const char* Build(ZephHandle& h) {
  // A generator of our own (seeded with the time, values 0..32767) instead of
  // srand/rand, so the game's own rand() sequence is left alone.
  std::minstd_rand generator(static_cast<uint32_t>(std::time(nullptr)));
  h.seq = static_cast<uint32_t>(generator() % 32768u);
  h.businessId = kZephBusinessId;
  h.socketsStarted = true;
  platform::SocketStartup();  // its result does not matter: a failure shows in the sockets

  if (!LookUpDescriptions(h.descriptions)) return "zeph_create_protohandle err";
  const bool built = IsDottedHost(h.host) ? QueryCollectorList(h) : BuildSingleCollector(h);
  if (!built) return "zeph_get_qosconnd_iplist fail";

  h.resFlag = QOS_RESFLAG_GAMESVR_LIST;
  for (ConndLink& c : h.connds) {
    c.state = h.conndInfo[c.index].address == h.host ? kConndDone : kConndQueryPending;
  }
  h.now = std::chrono::steady_clock::now();
  RunExchange(h);

  for (const ConndLink& c : h.connds) {
    if (h.conndInfo[c.index].address == h.host) {
      h.reportIndex = c.index;
      return nullptr;
    }
  }
  return "zeph_find_connd_by_ip fail";
}

}  // namespace

int zeph_create_protohandle(ZephHandle** handle, const std::string& host, uint16_t port, char* errText) {
  if (handle) *handle = nullptr;
  ZephHandle* h = nullptr;
  try {
    h = new ZephHandle();
    h->host = host;
    h->port = port;
    h->buffer.resize(kQosMaxPacket);
    h->packet.reset(new QOSCSPkg());
  } catch (const std::bad_alloc&) {
    delete h;
    SetError(errText, "calloc err");
    return -1;
  }
  const char* error = nullptr;
  try {
    error = Build(*h);
  } catch (const std::bad_alloc&) {
    error = "calloc err";
  }
  if (error || !handle) {
    zeph_destroy_protohandle(h);
    SetError(errText, error ? error : "zeph_create_protohandle err");
    return -1;
  }
  *handle = h;
  return 0;
}

int zeph_destroy_protohandle(ZephHandle* handle) {
  if (!handle) return 0;
  handle->descriptions = ZephDescriptions{};
  for (const ConndLink& c : handle->connds) CloseSocket(c.socket);
  if (handle->socketsStarted) platform::SocketCleanup();
  delete handle;
  return 0;
}

int SendPacket(ZephHandle* handle, SocketHandle socket, uint16_t cmd, QOSCSPkg& pkg) {
  if (!handle || socket == platform::kInvalidSocket || handle->buffer.size() < kQosMaxPacket) return -1;
  pkg.Head.Cmd = cmd;
  pkg.Head.Magic = QOS_CS_MAGIC;
  pkg.Head.ProtoVer = static_cast<int32_t>(kQosProtoVersion);
  pkg.Head.Seq = ++handle->seq;
  size_t len = 0;
  if (EncodeQosPacket(pkg, handle->buffer.data(), handle->buffer.size(), len) != 0) return -1;
  return SendSome(socket, handle->buffer.data(), len, 0) < 0 ? -1 : 0;
}

int SendReport(ZephHandle* handle, const QOSRep& report) {
  if (!handle || handle->reportIndex < 0 ||
      static_cast<size_t>(handle->reportIndex) >= handle->connds.size()) {
    return -1;
  }
  QOSCSPkg& pkg = *handle->packet;
  std::memset(&pkg.Head, 0, sizeof(pkg.Head));
  std::memcpy(&pkg.Body.QOSRep, &report, sizeof(report));
  return SendPacket(handle, handle->connds[handle->reportIndex].socket, QOS_REP, pkg);
}

}  // namespace udra::qos

// A UDP peer on 127.0.0.1 that records every datagram it gets and answers as
// a test tells it to, on a thread of its own. It stops when destroyed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Socket.h"
#include "qos/QosPacket.h"

namespace udra::qos::test {

struct Received {
  std::chrono::steady_clock::time_point at;
  std::vector<uint8_t> bytes;
  bool decoded = false;
  QOSCSPkgHead head{};
  uint16_t getReqFlags = 0;  // QosResFlag of a QOS_GET_REQ
  int32_t reportRecords = 0;
};

class ScriptedPeer {
 public:
  using Handler = std::function<void(ScriptedPeer&, const QOSCSPkg&, uint32_t, uint16_t)>;

  explicit ScriptedPeer(Handler handler = nullptr) : handler_(std::move(handler)) {
    platform::SocketStartup();
    socket_ = platform::SocketCreate(platform::SocketKind::Datagram);
    uint32_t loopback = 0;
    platform::SocketParseDotted("127.0.0.1", loopback);
    ok_ = socket_ != platform::kInvalidSocket && platform::SocketBind(socket_, loopback, 0) &&
          platform::SocketSetNonBlocking(socket_) && platform::SocketLocalPort(socket_, port_);
    if (ok_) thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    platform::SocketClose(socket_);
    platform::SocketCleanup();
  }

  bool ok() const { return ok_; }
  uint16_t port() const { return port_; }

  std::vector<Received> received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  // Waits up to `ms` until at least `n` datagrams arrived.
  bool WaitFor(size_t n, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      if (received().size() >= n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return received().size() >= n;
  }

  // Answers from the peer's socket.
  void Reply(QOSCSPkg& pkg, uint32_t address, uint16_t port) {
    std::vector<uint8_t> bytes(kQosMaxPacket);
    size_t len = 0;
    if (EncodeQosPacket(pkg, bytes.data(), bytes.size(), len) == 0) {
      platform::SocketSendTo(socket_, bytes.data(), len, address, port);
    }
  }

  // A QOS_GET_RES answer to `req` listing one collector.
  static std::unique_ptr<QOSCSPkg> Answer(const QOSCSPkg& req, const char* collector, uint32_t collectorPort) {
    std::unique_ptr<QOSCSPkg> a(new QOSCSPkg());
    a->Head.Magic = QOS_CS_MAGIC;
    a->Head.Cmd = QOS_GET_RES;
    a->Head.ProtoVer = 10;
    a->Head.Seq = req.Head.Seq;
    QOSGetRes& res = a->Body.QOSGetRes;
    res.QosResFlag = req.Body.QOSGetReq.QosResFlag;
    res.GroupID = 7;
    res.ConndIPPortNum = 1;
    std::strcpy(res.ConndIPPortList[0].ConndIP, collector);
    res.ConndIPPortList[0].ConndPort = collectorPort;
    std::strcpy(res.GameSvrList.Mask, "255.255.255.0");
    res.GameSvrList.GameSvrNum = 1;
    std::strcpy(res.GameSvrList.GameSvrIPList[0], "127.0.0.1");
    return a;
  }

 private:
  void Run() {
    std::vector<uint8_t> buffer(kQosMaxPacket + 1);
    std::unique_ptr<QOSCSPkg> pkg(new QOSCSPkg());
    // Bounded: a peer never outlives a minute.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!stop_ && std::chrono::steady_clock::now() < end) {
      if (platform::SocketWait(socket_, false, 20) != platform::WaitResult::Ready) continue;
      uint32_t from = 0;
      uint16_t fromPort = 0;
      long n = platform::SocketReceiveFrom(socket_, buffer.data(), buffer.size(), from, fromPort);
      if (n < 0) continue;
      Received r;
      r.at = std::chrono::steady_clock::now();
      r.bytes.assign(buffer.begin(), buffer.begin() + n);
      r.decoded = DecodeQosPacket(buffer.data(), static_cast<size_t>(n), *pkg) == 0;
      if (r.decoded) {
        r.head = pkg->Head;
        if (pkg->Head.Cmd == QOS_GET_REQ) r.getReqFlags = pkg->Body.QOSGetReq.QosResFlag;
        if (pkg->Head.Cmd == QOS_REP) r.reportRecords = pkg->Body.QOSRep.QosNum;
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(r);
      }
      if (r.decoded && handler_) handler_(*this, *pkg, from, fromPort);
    }
  }

  Handler handler_;
  platform::SocketHandle socket_ = platform::kInvalidSocket;
  uint16_t port_ = 0;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Received> received_;
  std::thread thread_;
};

}  // namespace udra::qos::test

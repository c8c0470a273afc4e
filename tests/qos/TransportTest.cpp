// The socket layer and the protocol handle against a scripted peer on 127.0.0.1.
#include <gtest/gtest.h>

#include <string>

#include "ScriptedPeer.h"
#include "log/Logger.h"
#include "qos/QosReport.h"
#include "qos/QosSocket.h"
#include "qos/ZephHandle.h"

namespace udra::qos {
namespace {

using test::Received;
using test::ScriptedPeer;

TEST(SocketUrl, Grammar) {
  SocketUrl u;
  ASSERT_TRUE(ParseSocketUrl("udp://host:81?a=1&b=&c=3", u));
  EXPECT_EQ(u.protocol, "udp");
  EXPECT_EQ(u.address, "host:81");
  ASSERT_EQ(u.options.size(), 3u);
  EXPECT_EQ(u.options[1].first, "b");
  EXPECT_EQ(u.options[2].second, "3");
  ASSERT_TRUE(ParseSocketUrl("host:1?x=1&&y=2", u));  // stops at the empty item
  EXPECT_EQ(u.protocol, "tcp");
  EXPECT_EQ(u.options.size(), 1u);
  EXPECT_FALSE(ParseSocketUrl("udp://" + std::string(194, 'h'), u));
  EXPECT_FALSE(ParseSocketUrl("sixteen_letters_://h:1", u));
  EXPECT_FALSE(ParseSocketUrl("udp://h:1?" + std::string(32, 'n') + "=v", u));
  EXPECT_FALSE(ParseSocketUrl("udp://h:1?n=" + std::string(256, 'v'), u));
  EXPECT_EQ(ProtocolByName("thttp"), 7);
  EXPECT_EQ(SocketTypeByName("seqpacket"), 5);

  uint32_t address = 0;
  uint16_t port = 1;
  ASSERT_TRUE(ParseSocketAddress("127.0.0.1", address, port));
  EXPECT_EQ(port, 0);
  EXPECT_FALSE(ParseSocketAddress("255.255.255.255:1", address, port));
  EXPECT_FALSE(ParseSocketAddress("1.2.3.4.5:1", address, port));
}

TEST(QosSocket, OpenSendReceive) {
  EXPECT_EQ(OpenSocket("ftp://127.0.0.1:1", 100), platform::kInvalidSocket);
  EXPECT_EQ(OpenSocket("unix://127.0.0.1:1", 100), platform::kInvalidSocket);
  EXPECT_EQ(OpenSocket("udp://" + std::string(194, '1'), 100), platform::kInvalidSocket);

  ScriptedPeer peer;
  ASSERT_TRUE(peer.ok());
  SocketHandle s = OpenSocket("udp://127.0.0.1:" + std::to_string(peer.port()), 1000);
  ASSERT_NE(s, platform::kInvalidSocket);
  char buf[16];
  EXPECT_EQ(ReceiveSome(s, buf, sizeof(buf), 0), 0);   // nothing there, no wait
  EXPECT_EQ(ReceiveSome(s, buf, sizeof(buf), 50), 0);  // nothing within 50 ms
  EXPECT_EQ(SendSome(s, "ping", 4, 1000), 4);
  EXPECT_TRUE(peer.WaitFor(1, 2000));
  CloseSocket(s);
}

struct Created {
  int rc = -1;
  ZephHandle* handle = nullptr;
  char err[kZephErrorTextSize] = {};
  ~Created() { zeph_destroy_protohandle(handle); }
};

std::unique_ptr<QOSRep> OneRecordReport() {
  std::unique_ptr<QOSRep> rep(new QOSRep());
  rep->BusinessID = 100;
  rep->QosNum = 1;
  rep->QosList[0].QosID = 2003;
  rep->QosList[0].AppendDescFlag = QOS_APPEND_DESC_NO;
  return rep;
}

TEST(ZephHandle, HostByNameSendsNothingBeforeTheReport) {
  ScriptedPeer peer;
  ASSERT_TRUE(peer.ok());
  Created c;
  c.rc = zeph_create_protohandle(&c.handle, "localhost", peer.port(), c.err);
  ASSERT_EQ(c.rc, 0) << c.err;
  ASSERT_EQ(c.handle->connds.size(), 1u);
  EXPECT_EQ(c.handle->reportIndex, 0);
  EXPECT_EQ(c.handle->conndInfo[0].flags, 24u);
  EXPECT_EQ(c.handle->conndInfo[0].gameSvrMask, "0.0.0.0");
  EXPECT_LE(c.handle->seq, 32767u);
  const uint32_t start = c.handle->seq;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(peer.received().empty());

  ASSERT_EQ(SendReport(c.handle, *OneRecordReport()), 0);
  ASSERT_TRUE(peer.WaitFor(1, 2000));
  const Received r = peer.received()[0];
  ASSERT_TRUE(r.decoded);
  EXPECT_EQ(r.head.Cmd, QOS_REP);
  EXPECT_EQ(r.head.Seq, start + 1);
  EXPECT_EQ(r.head.Magic, QOS_CS_MAGIC);
  EXPECT_EQ(r.reportRecords, 1);
}

TEST(ZephHandle, SilentDottedHostIsAskedThreeTimes) {
  ScriptedPeer peer;
  ASSERT_TRUE(peer.ok());
  Created c;
  c.rc = zeph_create_protohandle(&c.handle, "127.0.0.1", peer.port(), c.err);
  EXPECT_EQ(c.rc, -1);
  EXPECT_EQ(c.handle, nullptr);
  EXPECT_STREQ(c.err, "zeph_get_qosconnd_iplist fail");
  const auto got = peer.received();
  ASSERT_EQ(got.size(), 3u);
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].head.Cmd, QOS_GET_REQ);
    EXPECT_EQ(got[i].getReqFlags, 24);
    if (i > 0) {
      EXPECT_GE(got[i].at - got[i - 1].at, std::chrono::milliseconds(1900));
    }
  }
  EXPECT_EQ(got[1].head.Seq, got[0].head.Seq + 1);
}

TEST(ZephHandle, UndecodableAnswerFailsTheQuery) {
  ScriptedPeer peer([](ScriptedPeer& p, const QOSCSPkg& req, uint32_t a, uint16_t port) {
    auto answer = ScriptedPeer::Answer(req, "127.0.0.1", p.port());
    answer->Head.ProtoVer = 9;
    p.Reply(*answer, a, port);
  });
  ASSERT_TRUE(peer.ok());
  Created c;
  c.rc = zeph_create_protohandle(&c.handle, "127.0.0.1", peer.port(), c.err);
  EXPECT_EQ(c.rc, -1);
  EXPECT_STREQ(c.err, "zeph_get_qosconnd_iplist fail");
  EXPECT_EQ(peer.received().size(), 1u);
}

TEST(ZephHandle, FirstCollectorOtherThanTheHost) {
  // The list names "localhost" (not the host's text "127.0.0.1"): it is asked
  // for its game servers, then no collector matches the host.
  ScriptedPeer peer([](ScriptedPeer& p, const QOSCSPkg& req, uint32_t a, uint16_t port) {
    p.Reply(*ScriptedPeer::Answer(req, "localhost", p.port()), a, port);
  });
  ASSERT_TRUE(peer.ok());
  Created c;
  c.rc = zeph_create_protohandle(&c.handle, "127.0.0.1", peer.port(), c.err);
  EXPECT_EQ(c.rc, -1);
  EXPECT_STREQ(c.err, "zeph_find_connd_by_ip fail");
  const auto got = peer.received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].getReqFlags, 24);
  EXPECT_EQ(got[1].getReqFlags, 8);
}

TEST(ZephHandle, DottedHostReportEndToEnd) {
  ScriptedPeer peer([](ScriptedPeer& p, const QOSCSPkg& req, uint32_t a, uint16_t port) {
    if (req.Head.Cmd == QOS_GET_REQ) p.Reply(*ScriptedPeer::Answer(req, "127.0.0.1", p.port()), a, port);
  });
  ASSERT_TRUE(peer.ok());
  Logger log("QosTransportTest", "");
  QosReportInput input(log);
  input.version = "UDRA v1.0.0.1";
  input.host = "127.0.0.1";
  input.port = peer.port();
  for (int i = 0; i < 60; ++i) input.failedPaths.push_back("f" + std::to_string(i));
  ASSERT_TRUE(QosReport(input));
  ASSERT_TRUE(peer.WaitFor(4, 2000));
  const auto got = peer.received();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].head.Cmd, QOS_GET_REQ);
  for (size_t i = 1; i < got.size(); ++i) {
    EXPECT_EQ(got[i].head.Cmd, QOS_REP);
    EXPECT_EQ(got[i].head.Seq, got[0].head.Seq + i);
  }
  EXPECT_EQ(got[1].reportRecords, 1);
  EXPECT_EQ(got[2].reportRecords, 8);
  EXPECT_EQ(got[3].reportRecords, 1);
}

}  // namespace
}  // namespace udra::qos

// Wire form of the QoS packets and the checks on received datagrams.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "qos/Packer.h"
#include "qos/QosLibs.h"
#include "qos/QosPacket.h"

namespace udra::qos {
namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}
void PutText(Bytes& b, const char* text) {
  const size_t n = std::strlen(text) + 1;
  Put32(b, static_cast<uint32_t>(n));
  b.insert(b.end(), text, text + n);
}

std::unique_ptr<QOSCSPkg> SummaryPacket(uint32_t seq) {
  std::unique_ptr<QOSCSPkg> p(new QOSCSPkg());
  p->Head.Magic = QOS_CS_MAGIC;
  p->Head.Cmd = QOS_REP;
  p->Head.ProtoVer = 10;
  p->Head.Seq = seq;
  QOSRep& rep = p->Body.QOSRep;
  rep.BusinessID = 100;
  rep.QosNum = 1;
  QOSCSQosRep& r = rep.QosList[0];
  r.QosID = 2003;
  r.AppendDescFlag = QOS_APPEND_DESC_COMM;
  QOSAppendDescComm& c = r.AppendDesc.Comm;
  c.IntNum = 2;
  c.IntList[1] = 57;
  c.StrNum = 4;
  std::strcpy(c.StrList[0], "UDRA v1.2.3.4");
  std::strcpy(c.StrList[1], "NOT SET UIN");
  std::strcpy(c.StrList[2], "{GUID}");
  std::strcpy(c.StrList[3], "0123456789ABCDEF0123456789ABCDEF");
  return p;
}

Bytes Encode(const QOSCSPkg& p) {
  Bytes out(kQosMaxPacket);
  size_t len = 0;
  EXPECT_EQ(EncodeQosPacket(p, out.data(), out.size(), len), 0);
  out.resize(len);
  return out;
}

TEST(QosPacket, SummaryReportBytes) {
  Bytes body;
  Put32(body, 100);
  PutText(body, "");
  PutText(body, "");
  Put32(body, 1);
  Put32(body, 2003);
  Put32(body, 0);
  Put32(body, 2);
  Put32(body, 2);
  Put32(body, 0);
  Put32(body, 57);
  Put32(body, 4);
  for (const char* s : {"UDRA v1.2.3.4", "NOT SET UIN", "{GUID}", "0123456789ABCDEF0123456789ABCDEF"}) PutText(body, s);
  Bytes expected = {0x75, 0x72, 0x00, 0x10, static_cast<uint8_t>(body.size() >> 8),
                    static_cast<uint8_t>(body.size()), 0x00, 0x05, 0, 0, 0, 0x0A, 0x00, 0x01, 0xE2, 0x40};
  expected.insert(expected.end(), body.begin(), body.end());
  const Bytes actual = Encode(*SummaryPacket(123456));
  EXPECT_EQ(actual, expected);
  // The empty CltID is 00 00 00 01 00.
  EXPECT_EQ(Bytes(actual.begin() + 20, actual.begin() + 25), (Bytes{0, 0, 0, 1, 0}));

  std::unique_ptr<QOSCSPkg> back(new QOSCSPkg());
  ASSERT_EQ(DecodeQosPacket(actual.data(), actual.size(), *back), 0);
  EXPECT_EQ(back->Head.HeadLen, 16);
  EXPECT_EQ(back->Head.BodyLen, body.size());
  EXPECT_EQ(back->Head.Seq, 123456u);
  EXPECT_EQ(back->Body.QOSRep.QosList[0].AppendDesc.Comm.IntList[1], 57);
  EXPECT_STREQ(back->Body.QOSRep.QosList[0].AppendDesc.Comm.StrList[3], "0123456789ABCDEF0123456789ABCDEF");
}

size_t PackedSize(const char* name, const void* record, size_t size) {
  uint8_t out[kQosMaxPacket];
  size_t outSize = sizeof(out);
  EXPECT_EQ(Pack(FindMeta(QosCsLib(), name), out, &outSize, record, &size, 0), 0);
  return outSize;
}

TEST(QosPacket, OptionalAndUnselectedParts) {
  QOSGetReq req{};
  EXPECT_EQ(PackedSize("QOSGetReq", &req, sizeof(req)), 8u);
  req.SpdFlag = 1;
  EXPECT_EQ(PackedSize("QOSGetReq", &req, sizeof(req)), 16u);
  req.SpdFlag = 2;
  uint8_t out[64];
  size_t outSize = sizeof(out);
  size_t inSize = sizeof(req);
  EXPECT_EQ(Pack(FindMeta(QosCsLib(), "QOSGetReq"), out, &outSize, &req, &inSize, 0), kPackBadCount);

  std::unique_ptr<QOSCSQosRep> r(new QOSCSQosRep());
  r->AppendDescFlag = 7;
  EXPECT_EQ(PackedSize("QOSCSQosRep", r.get(), sizeof(*r)), 12u);
}

TEST(QosPacket, RecordsThatCannotBeEncoded) {
  std::unique_ptr<QOSCSPkg> p = SummaryPacket(1);
  Bytes out(kQosMaxPacket);
  size_t len = 0;
  p->Body.QOSRep.QosNum = 9;
  EXPECT_EQ(EncodeQosPacket(*p, out.data(), out.size(), len), kPackBadCount);
  p = SummaryPacket(1);
  std::memset(p->Body.QOSRep.CltID, 'x', sizeof(p->Body.QOSRep.CltID));
  EXPECT_EQ(EncodeQosPacket(*p, out.data(), out.size(), len), kPackBadString);
  EXPECT_EQ(len, 0u);
}

class ReceivedPacket : public ::testing::Test {
 protected:
  void SetUp() override { wire = Encode(*SummaryPacket(9)); }
  int32_t Decode(const Bytes& b) { return DecodeQosPacket(b.data(), b.size(), *pkg); }
  // Offset of the first string of the summary record's StrList (its length prefix).
  static constexpr size_t kStrList = 16 + 4 + 5 + 5 + 4 + 12 + 4 + 8 + 4;
  Bytes wire;
  std::unique_ptr<QOSCSPkg> pkg{new QOSCSPkg()};
};

TEST_F(ReceivedPacket, TruncatedAnywhereIsRejected) {
  EXPECT_LT(Decode(Bytes()), 0);
  for (size_t n : {size_t{1}, size_t{10}, size_t{16}, size_t{30}, wire.size() - 1}) {
    Bytes cut(wire.begin(), wire.begin() + n);
    EXPECT_EQ(Decode(cut), kPackNoSpace) << n;
  }
  EXPECT_EQ(Decode(wire), 0);
}

TEST_F(ReceivedPacket, BadStringsAreRejected) {
  Bytes b = wire;
  b[kStrList + 3] = 0;  // length 0
  EXPECT_EQ(Decode(b), kPackBadString);
  b = wire;
  b[kStrList + 2] = 0x01;  // length 256 + n, over 128
  EXPECT_EQ(Decode(b), kPackBadString);
  b = wire;
  b[kStrList + 4 + std::strlen("UDRA v1.2.3.4")] = '!';  // no terminator
  EXPECT_EQ(Decode(b), kPackBadString);
}

TEST_F(ReceivedPacket, CountsVersionsAndLengthsAreChecked) {
  Bytes b = wire;
  b[16 + 4 + 5 + 5 + 3] = 9;  // QosNum 9
  EXPECT_EQ(Decode(b), kPackBadCount);
  b = wire;
  b[kStrList - 1] = 11;  // StrNum 11
  EXPECT_EQ(Decode(b), kPackBadCount);

  b = wire;
  b[11] = 9;
  EXPECT_EQ(Decode(b), kPackBadVersion);
  b[8] = 0xFF;  // negative
  EXPECT_EQ(Decode(b), kPackBadVersion);
  b = wire;
  b[11] = 11;
  EXPECT_EQ(Decode(b), 0);
  b[11] = 0;
  EXPECT_EQ(Decode(b), 0);

  b = wire;
  b[5] = static_cast<uint8_t>(b[5] + 1);  // BodyLen one more than the body
  EXPECT_EQ(Decode(b), kPackNoSpace);
  b = wire;
  b[3] = 15;  // HeadLen
  EXPECT_EQ(Decode(b), kPackNoSpace);
}

TEST(QosPacket, CollectorAnswerRoundTrips) {
  std::unique_ptr<QOSCSPkg> p(new QOSCSPkg());
  p->Head.Cmd = QOS_GET_RES;
  p->Head.ProtoVer = 10;
  QOSGetRes& res = p->Body.QOSGetRes;
  res.QosResFlag = 24;
  res.QosNum = 1;
  res.QosList[0].QosID = 5;
  res.ConndIPPortNum = 2;
  std::strcpy(res.ConndIPPortList[0].ConndIP, "127.0.0.1");
  res.ConndIPPortList[0].ConndPort = 8080;
  std::strcpy(res.ConndIPPortList[1].ConndIP, "localhost");
  std::strcpy(res.GameSvrList.Mask, "255.255.0.0");
  res.GameSvrList.GameSvrNum = 1;
  std::strcpy(res.GameSvrList.GameSvrIPList[0], "127.0.0.9");
  const Bytes b = Encode(*p);
  std::unique_ptr<QOSCSPkg> back(new QOSCSPkg());
  ASSERT_EQ(DecodeQosPacket(b.data(), b.size(), *back), 0);
  EXPECT_EQ(back->Body.QOSGetRes.QosList[0].QosID, 5);
  EXPECT_EQ(back->Body.QOSGetRes.ConndIPPortList[0].ConndPort, 8080u);
  EXPECT_STREQ(back->Body.QOSGetRes.ConndIPPortList[1].ConndIP, "localhost");
  EXPECT_STREQ(back->Body.QOSGetRes.GameSvrList.GameSvrIPList[0], "127.0.0.9");
}

}  // namespace
}  // namespace udra::qos

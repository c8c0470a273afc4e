// A full QOS_REP (8 records of 10 strings): the description-driven packer
// against a hand-written encoder that produces the same bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "qos/QosPacket.h"

namespace {

using namespace udra::qos;

std::unique_ptr<QOSCSPkg> FullReport() {
  std::unique_ptr<QOSCSPkg> p(new QOSCSPkg());
  p->Head.Magic = QOS_CS_MAGIC;
  p->Head.Cmd = QOS_REP;
  p->Head.ProtoVer = 10;
  p->Head.Seq = 4242;
  QOSRep& rep = p->Body.QOSRep;
  rep.BusinessID = 100;
  rep.QosNum = 8;
  for (int i = 0; i < 8; ++i) {
    QOSCSQosRep& r = rep.QosList[i];
    r.QosID = 2003;
    r.AppendDescFlag = QOS_APPEND_DESC_COMM;
    QOSAppendDescComm& c = r.AppendDesc.Comm;
    c.IntNum = 1;
    c.IntList[0] = 2;
    c.StrNum = 10;
    std::strcpy(c.StrList[0], "UDRA v1.0.2.3");
    std::strcpy(c.StrList[1], "NOT SET UIN");
    std::strcpy(c.StrList[2], "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
    for (int k = 3; k < 10; ++k) {
      std::snprintf(c.StrList[k], sizeof(c.StrList[k]), "data\\maps\\region%02d\\terrain_block_%03d.pak", i, k);
    }
  }
  return p;
}

// The same bytes, written out by hand for this one message.
class HandWriter {
 public:
  explicit HandWriter(uint8_t* out) : out_(out) {}
  void U16(uint16_t v) {
    out_[n_++] = static_cast<uint8_t>(v >> 8);
    out_[n_++] = static_cast<uint8_t>(v);
  }
  void U32(uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out_[n_++] = static_cast<uint8_t>(v >> s);
  }
  void Text(const char* s) {
    const size_t len = std::strlen(s) + 1;
    U32(static_cast<uint32_t>(len));
    std::memcpy(out_ + n_, s, len);
    n_ += len;
  }
  size_t size() const { return n_; }
  uint8_t* at(size_t pos) { return out_ + pos; }

 private:
  uint8_t* out_;
  size_t n_ = 0;
};

size_t HandEncode(const QOSCSPkg& p, uint8_t* out) {
  HandWriter w(out);
  w.U16(p.Head.Magic);
  w.U16(16);
  w.U16(0);
  w.U16(p.Head.Cmd);
  w.U32(static_cast<uint32_t>(p.Head.ProtoVer));
  w.U32(p.Head.Seq);
  const QOSRep& rep = p.Body.QOSRep;
  w.U32(static_cast<uint32_t>(rep.BusinessID));
  w.Text(rep.CltID);
  w.Text(rep.ServerID);
  w.U32(static_cast<uint32_t>(rep.QosNum));
  for (int i = 0; i < rep.QosNum; ++i) {
    const QOSCSQosRep& r = rep.QosList[i];
    w.U32(static_cast<uint32_t>(r.QosID));
    w.U32(static_cast<uint32_t>(r.QosVal));
    w.U32(static_cast<uint32_t>(r.AppendDescFlag));
    const QOSAppendDescComm& c = r.AppendDesc.Comm;
    w.U32(static_cast<uint32_t>(c.IntNum));
    for (int k = 0; k < c.IntNum; ++k) w.U32(static_cast<uint32_t>(c.IntList[k]));
    w.U32(static_cast<uint32_t>(c.StrNum));
    for (int k = 0; k < c.StrNum; ++k) w.Text(c.StrList[k]);
  }
  const size_t body = w.size() - 16;
  w.at(4)[0] = static_cast<uint8_t>(body >> 8);
  w.at(4)[1] = static_cast<uint8_t>(body);
  return w.size();
}

// Both encoders must agree before anything is timed.
const bool kSameBytes = [] {
  auto p = FullReport();
  std::vector<uint8_t> a(kQosMaxPacket), b(kQosMaxPacket);
  size_t len = 0;
  if (EncodeQosPacket(*p, a.data(), a.size(), len) != 0 || HandEncode(*p, b.data()) != len ||
      std::memcmp(a.data(), b.data(), len) != 0) {
    std::fprintf(stderr, "hand-written encoder and packer disagree\n");
    std::abort();
  }
  return true;
}();

void BM_PackFullReport(benchmark::State& state) {
  auto p = FullReport();
  std::vector<uint8_t> out(kQosMaxPacket);
  size_t len = 0;
  for (auto _ : state) {
    EncodeQosPacket(*p, out.data(), out.size(), len);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * len));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PackFullReport);

void BM_HandEncodeFullReport_Baseline(benchmark::State& state) {
  auto p = FullReport();
  std::vector<uint8_t> out(kQosMaxPacket);
  size_t len = 0;
  for (auto _ : state) {
    len = HandEncode(*p, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * len));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HandEncodeFullReport_Baseline);

void BM_UnpackFullReport(benchmark::State& state) {
  auto p = FullReport();
  std::vector<uint8_t> wire(kQosMaxPacket);
  size_t len = 0;
  EncodeQosPacket(*p, wire.data(), wire.size(), len);
  std::unique_ptr<QOSCSPkg> back(new QOSCSPkg());
  for (auto _ : state) {
    if (DecodeQosPacket(wire.data(), len, *back) != 0) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(back.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * len));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UnpackFullReport);

}  // namespace

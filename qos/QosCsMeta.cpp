// Descriptions of the client <-> collector messages ("qos_cs").
#include <cstddef>

#include "qos/MetaBuild.h"
#include "qos/QosCsShared.h"
#include "qos/QosLibs.h"

namespace udra::qos {

using namespace meta;
using T = MetaType;

namespace {

#define OFF(type, field) static_cast<uint32_t>(offsetof(type, field))
#define SZ(type) static_cast<uint32_t>(sizeof(type))

constexpr MetaEntry kHeadEntries[] = {
    Field("Magic", T::SmallUInt, OFF(QOSCSPkgHead, Magic), 2),
    Field("HeadLen", T::SmallUInt, OFF(QOSCSPkgHead, HeadLen), 2),
    Field("BodyLen", T::SmallUInt, OFF(QOSCSPkgHead, BodyLen), 2),
    Field("Cmd", T::SmallUInt, OFF(QOSCSPkgHead, Cmd), 2),
    Field("ProtoVer", T::Int, OFF(QOSCSPkgHead, ProtoVer), 4),
    Field("Seq", T::UInt, OFF(QOSCSPkgHead, Seq), 4),
};
// HeadLen (bytes 2..3 of the head) receives the head's packed length.
constexpr MetaDesc kHead = WithOwnSize(Struct("QOSCSPkgHead", SZ(QOSCSPkgHead), kHeadEntries), 2, 2);

constexpr MetaEntry kTimeEntries[] = {
    Field("tv_sec", T::Int, OFF(QOSCSTime, tv_sec), 4),
    Field("tv_usec", T::Int, OFF(QOSCSTime, tv_usec), 4),
};
constexpr MetaDesc kTime = Struct("QOSCSTime", SZ(QOSCSTime), kTimeEntries);

constexpr MetaEntry kSpdTstReqEntries[] = {
    Nested("CSendTime", &kTime, OFF(QOSSpdTstReq, CSendTime), SZ(QOSCSTime)),
};
constexpr MetaDesc kSpdTstReq = Struct("QOSSpdTstReq", SZ(QOSSpdTstReq), kSpdTstReqEntries);

constexpr MetaEntry kSpdTstResEntries[] = {
    Nested("CSendTime", &kTime, OFF(QOSSpdTstRes, CSendTime), SZ(QOSCSTime)),
    Nested("SRecvTime", &kTime, OFF(QOSSpdTstRes, SRecvTime), SZ(QOSCSTime)),
    Nested("SSendTime", &kTime, OFF(QOSSpdTstRes, SSendTime), SZ(QOSCSTime)),
};
constexpr MetaDesc kSpdTstRes = Struct("QOSSpdTstRes", SZ(QOSSpdTstRes), kSpdTstResEntries);

constexpr MetaEntry kSpdDataEntries[] = {
    Field("Rtt", T::SmallUInt, OFF(QOSSpdData, Rtt), 2),
    Field("StdDev", T::SmallUInt, OFF(QOSSpdData, StdDev), 2),
    Field("LostRate", T::SmallUInt, OFF(QOSSpdData, LostRate), 2),
    Field("Res", T::SmallUInt, OFF(QOSSpdData, Res), 2),
};
constexpr MetaDesc kSpdData = Struct("QOSSpdData", SZ(QOSSpdData), kSpdDataEntries);

constexpr MetaEntry kGetReqEntries[] = {
    Field("BusinessID", T::Int, OFF(QOSGetReq, BusinessID), 4),
    Field("QosResFlag", T::SmallUInt, OFF(QOSGetReq, QosResFlag), 2),
    Field("SpdFlag", T::SmallUInt, OFF(QOSGetReq, SpdFlag), 2),
    Nested("SpdData", &kSpdData, OFF(QOSGetReq, SpdData), SZ(QOSSpdData), 1, Ref(2, OFF(QOSGetReq, SpdFlag))),
};
constexpr MetaDesc kGetReq = Struct("QOSGetReq", SZ(QOSGetReq), kGetReqEntries);

}  // namespace

constexpr MetaEntry kCsQosEntries[3] = {
    Field("QosID", T::Int, OFF(QOSCSQos, QosID), 4),
    Field("QosVal", T::Int, OFF(QOSCSQos, QosVal), 4),
    Field("DurationTime", T::Int, OFF(QOSCSQos, DurationTime), 4),
};

namespace {

constexpr MetaDesc kQos = Struct("QOSCSQos", SZ(QOSCSQos), kCsQosEntries);

constexpr MetaEntry kConndEntries[] = {
    Text("ConndIP", OFF(QOSConndIPPortList, ConndIP), ZEPH_CS_STRING_LEN),
    Field("ConndPort", T::UInt, OFF(QOSConndIPPortList, ConndPort), 4),
};
constexpr MetaDesc kConnd = Struct("QOSConndIPPortList", SZ(QOSConndIPPortList), kConndEntries);

constexpr char kDefaultMask[ZEPH_CS_STRING_LEN] = "0.0.0.0";
constexpr MetaEntry kGameSvrEntries[] = {
    WithDefault(Text("Mask", OFF(QosCSGameSvrList, Mask), ZEPH_CS_STRING_LEN), kDefaultMask,
                sizeof(kDefaultMask)),
    Field("GameSvrNum", T::Int, OFF(QosCSGameSvrList, GameSvrNum), 4),
    Text("GameSvrIPList", OFF(QosCSGameSvrList, GameSvrIPList), ZEPH_CS_STRING_LEN, QOS_CS_MAX_GAMESVR,
         Ref(4, OFF(QosCSGameSvrList, GameSvrNum))),
};
constexpr MetaDesc kGameSvr = Struct("QosCSGameSvrList", SZ(QosCSGameSvrList), kGameSvrEntries);

constexpr MetaEntry kGetResEntries[] = {
    Field("Score", T::SmallUInt, OFF(QOSGetRes, Score), 2),
    Field("QosNum", T::SmallUInt, OFF(QOSGetRes, QosNum), 2),
    Field("GroupID", T::SmallUInt, OFF(QOSGetRes, GroupID), 2),
    Field("QosResFlag", T::SmallUInt, OFF(QOSGetRes, QosResFlag), 2),
    Nested("QosList", &kQos, OFF(QOSGetRes, QosList), SZ(QOSCSQos), QOS_CS_MAX_QOSLIST,
           Ref(2, OFF(QOSGetRes, QosNum))),
    Field("ConndIPPortNum", T::UInt, OFF(QOSGetRes, ConndIPPortNum), 4),
    Nested("ConndIPPortList", &kConnd, OFF(QOSGetRes, ConndIPPortList), SZ(QOSConndIPPortList),
           QOS_CS_MAX_CONNDIP, Ref(4, OFF(QOSGetRes, ConndIPPortNum))),
    Nested("GameSvrList", &kGameSvr, OFF(QOSGetRes, GameSvrList), SZ(QosCSGameSvrList)),
};
constexpr MetaDesc kGetRes = Struct("QOSGetRes", SZ(QOSGetRes), kGetResEntries);

constexpr MetaEntry kDescNoEntries[] = {
    Field("Res", T::Int, OFF(QOSAppendDescNo, Res), 4),
};
constexpr MetaDesc kDescNo = Struct("QOSAppendDescNo", SZ(QOSAppendDescNo), kDescNoEntries);

constexpr MetaEntry kDescCommEntries[] = {
    Field("IntNum", T::Int, OFF(QOSAppendDescComm, IntNum), 4),
    Field("IntList", T::Int, OFF(QOSAppendDescComm, IntList), 4, QOS_CS_ADINFO_MAX_INT,
          Ref(4, OFF(QOSAppendDescComm, IntNum))),
    Field("StrNum", T::Int, OFF(QOSAppendDescComm, StrNum), 4),
    Text("StrList", OFF(QOSAppendDescComm, StrList), QOS_CS_ADINFO_STR_LEN, QOS_CS_ADINFO_MAX_STR,
         Ref(4, OFF(QOSAppendDescComm, StrNum))),
};
constexpr MetaDesc kDescComm = Struct("QOSAppendDescComm", SZ(QOSAppendDescComm), kDescCommEntries);

constexpr MetaEntry kAdInfoEntries[] = {
    Field("StatType", T::Int, OFF(QosAdInfo, StatType), 4),
    Field("StatID", T::Int, OFF(QosAdInfo, StatID), 4),
    Field("Reserved1", T::Int, OFF(QosAdInfo, Reserved1), 4),
    Field("Reserved2", T::Int, OFF(QosAdInfo, Reserved2), 4),
    Text("IP", OFF(QosAdInfo, IP), ZEPH_CS_STRING_LEN),
    Field("IntNum", T::Int, OFF(QosAdInfo, IntNum), 4),
    Field("IntList", T::Int, OFF(QosAdInfo, IntList), 4, QOS_CS_ADINFO_MAX_INT, Ref(4, OFF(QosAdInfo, IntNum))),
    Field("StrNum", T::Int, OFF(QosAdInfo, StrNum), 4),
    Text("StrList", OFF(QosAdInfo, StrList), QOS_CS_ADINFO_STR_LEN, QOS_CS_ADINFO_MAX_STR,
         Ref(4, OFF(QosAdInfo, StrNum))),
    Field("Resvlen", T::Int, OFF(QosAdInfo, Resvlen), 4),
    Field("Resv", T::TinyInt, OFF(QosAdInfo, Resv), 1, QOS_CS_ADINFO_BLOB_LEN, Ref(4, OFF(QosAdInfo, Resvlen))),
    Field("Bloblen", T::Int, OFF(QosAdInfo, Bloblen), 4),
    Field("Blob", T::TinyInt, OFF(QosAdInfo, Blob), 1, QOS_CS_ADINFO_BLOB_LEN, Ref(4, OFF(QosAdInfo, Bloblen))),
};
constexpr MetaDesc kAdInfo = Struct("QosAdInfo", SZ(QosAdInfo), kAdInfoEntries);

constexpr MetaEntry kDescVelmarEntries[] = {
    Field("Uin", T::Int, OFF(QOSAppendDescVelmar, Uin), 4),
    Field("Time", T::Int, OFF(QOSAppendDescVelmar, Time), 4),
    Nested("AdInfo", &kAdInfo, OFF(QOSAppendDescVelmar, AdInfo), SZ(QosAdInfo)),
};
constexpr MetaDesc kDescVelmar = Struct("QOSAppendDescVelmar", SZ(QOSAppendDescVelmar), kDescVelmarEntries);

}  // namespace

constexpr MetaEntry kCsAppendDescEntries[3] = {
    Member(Nested("No", &kDescNo, 0, SZ(QOSAppendDescNo)), QOS_APPEND_DESC_NO),
    Member(Nested("Velmar", &kDescVelmar, 0, SZ(QOSAppendDescVelmar)), QOS_APPEND_DESC_VELMAR),
    Member(Nested("Comm", &kDescComm, 0, SZ(QOSAppendDescComm)), QOS_APPEND_DESC_COMM),
};
namespace {

constexpr MetaDesc kAppendDesc =
    Union("QOSAppendDesc", SZ(QOSAppendDesc), kCsAppendDescEntries, QOS_APPEND_DESC_NO, QOS_APPEND_DESC_COMM);

constexpr MetaEntry kQosRepEntries[] = {
    Field("QosID", T::Int, OFF(QOSCSQosRep, QosID), 4),
    Field("QosVal", T::Int, OFF(QOSCSQosRep, QosVal), 4),
    Field("AppendDescFlag", T::Int, OFF(QOSCSQosRep, AppendDescFlag), 4),
    Selected("AppendDesc", &kAppendDesc, OFF(QOSCSQosRep, AppendDesc), SZ(QOSAppendDesc),
             Ref(4, OFF(QOSCSQosRep, AppendDescFlag))),
};
constexpr MetaDesc kQosRep = Struct("QOSCSQosRep", SZ(QOSCSQosRep), kQosRepEntries);

constexpr MetaEntry kRepEntries[] = {
    Field("BusinessID", T::Int, OFF(QOSRep, BusinessID), 4),
    Text("CltID", OFF(QOSRep, CltID), ZEPH_CS_STRING_LEN),
    Text("ServerID", OFF(QOSRep, ServerID), ZEPH_CS_STRING_LEN),
    Field("QosNum", T::Int, OFF(QOSRep, QosNum), 4),
    Nested("QosList", &kQosRep, OFF(QOSRep, QosList), SZ(QOSCSQosRep), QOS_CS_MAX_REP, Ref(4, OFF(QOSRep, QosNum))),
};
constexpr MetaDesc kRep = Struct("QOSRep", SZ(QOSRep), kRepEntries);

constexpr MetaEntry kBodyEntries[] = {
    Member(Nested("TestReq", &kSpdTstReq, 0, SZ(QOSSpdTstReq)), QOS_SPDTST_REQ),
    Member(Nested("TestRes", &kSpdTstRes, 0, SZ(QOSSpdTstRes)), QOS_SPDTST_RES),
    Member(Nested("QOSGetReq", &kGetReq, 0, SZ(QOSGetReq)), QOS_GET_REQ),
    Member(Nested("QOSGetRes", &kGetRes, 0, SZ(QOSGetRes)), QOS_GET_RES),
    Member(Nested("QOSRep", &kRep, 0, SZ(QOSRep)), QOS_REP),
};
constexpr MetaDesc kBody = Union("QOSCSPkgBody", SZ(QOSCSPkgBody), kBodyEntries, QOS_SPDTST_REQ, QOS_REP);

constexpr uint32_t kCmdOffset = OFF(QOSCSPkg, Head) + OFF(QOSCSPkgHead, Cmd);
constexpr MetaEntry kPkgEntries[] = {
    Nested("Head", &kHead, OFF(QOSCSPkg, Head), SZ(QOSCSPkgHead)),
    // BodyLen sits at bytes 4..5 of the packet.
    WithSize(Selected("Body", &kBody, OFF(QOSCSPkg, Body), SZ(QOSCSPkgBody), Ref(2, kCmdOffset)),
             SizeField::AtOffset, 2, 4),
};
constexpr MetaDesc kPkg = Struct("QOSCSPkg", SZ(QOSCSPkg), kPkgEntries);

#undef OFF
#undef SZ

constexpr MetaMacro kMacros[] = {
    {"QOS_CS_MAGIC", QOS_CS_MAGIC, "magic of every packet head"},
    {"QOS_CS_MAX_QOSLIST", QOS_CS_MAX_QOSLIST, ""},
    {"QOS_CS_MAX_GAMESVR", QOS_CS_MAX_GAMESVR, ""},
    {"QOS_CS_MAX_CONNDIP", QOS_CS_MAX_CONNDIP, ""},
    {"ZEPH_CS_STRING_LEN", ZEPH_CS_STRING_LEN, ""},
    {"QOS_CS_MAX_REP", QOS_CS_MAX_REP, ""},
    {"QOS_CS_ADINFO_STR_LEN", QOS_CS_ADINFO_STR_LEN, ""},
    {"QOS_CS_ADINFO_BLOB_LEN", QOS_CS_ADINFO_BLOB_LEN, ""},
    {"QOS_CS_ADINFO_MAX_INT", QOS_CS_ADINFO_MAX_INT, ""},
    {"QOS_CS_ADINFO_MAX_STR", QOS_CS_ADINFO_MAX_STR, ""},
    {"QOS_MAX_RTT", QOS_MAX_RTT, ""},
    {"QOS_MAX_STDDEV", QOS_MAX_STDDEV, ""},
    {"QOS_RESFLAG_SCORE", QOS_RESFLAG_SCORE, ""},
    {"QOS_RESFLAG_QOSLIST", QOS_RESFLAG_QOSLIST, ""},
    {"QOS_RESFLAG_GAMESVR_LIST", QOS_RESFLAG_GAMESVR_LIST, ""},
    {"QOS_RESFLAG_CONNDIP_LIST", QOS_RESFLAG_CONNDIP_LIST, ""},
    {"QOS_APPEND_DESC_NO", QOS_APPEND_DESC_NO, ""},
    {"QOS_APPEND_DESC_VELMAR", QOS_APPEND_DESC_VELMAR, ""},
    {"QOS_APPEND_DESC_COMM", QOS_APPEND_DESC_COMM, ""},
    {"QOS_SPDTST_REQ", QOS_SPDTST_REQ, ""},
    {"QOS_SPDTST_RES", QOS_SPDTST_RES, ""},
    {"QOS_GET_REQ", QOS_GET_REQ, ""},
    {"QOS_GET_RES", QOS_GET_RES, ""},
    {"QOS_REP", QOS_REP, ""},
};

constexpr const MetaDesc* kDescs[] = {
    &kHead,      &kTime,    &kSpdTstReq, &kSpdTstRes,  &kSpdData,   &kGetReq, &kQos,
    &kConnd,     &kGameSvr, &kGetRes,    &kDescNo,     &kDescComm,  &kAdInfo, &kDescVelmar,
    &kAppendDesc, &kQosRep, &kRep,       &kBody,       &kPkg,
};

// kDescs ordered by name, byte by byte.
constexpr uint16_t kNameIndex[] = {14, 11, 10, 13, 18, 17, 0, 6, 15, 1, 7, 5, 9, 16, 4, 2, 3, 12, 8};
static_assert(sizeof(kNameIndex) / sizeof(kNameIndex[0]) == sizeof(kDescs) / sizeof(kDescs[0]),
              "name index covers every description");

constexpr MetaLib kLib = {"qos_cs", kMacros, sizeof(kMacros) / sizeof(kMacros[0]), kDescs,
                          sizeof(kDescs) / sizeof(kDescs[0]), kNameIndex};

}  // namespace

const MetaLib& QosCsLib() { return kLib; }

}  // namespace udra::qos

// Descriptions of the collector <-> collector messages ("qos_ss"). The client
// only looks them up; their QoS items and report records equal qos_cs's.
#include <cstddef>

#include "qos/MetaBuild.h"
#include "qos/QosCsShared.h"
#include "qos/QosLibs.h"

namespace udra::qos {
namespace {

using namespace meta;
using T = MetaType;

#define OFF(type, field) static_cast<uint32_t>(offsetof(type, field))
#define SZ(type) static_cast<uint32_t>(sizeof(type))

constexpr MetaEntry kHeadEntries[] = {
    Field("Magic", T::SmallUInt, OFF(QOSSSPkgHead, Magic), 2),
    Field("HeadLen", T::SmallUInt, OFF(QOSSSPkgHead, HeadLen), 2),
    Field("BodyLen", T::SmallUInt, OFF(QOSSSPkgHead, BodyLen), 2),
    Field("Cmd", T::SmallUInt, OFF(QOSSSPkgHead, Cmd), 2),
};
constexpr MetaDesc kHead = WithOwnSize(Struct("QOSSSPkgHead", SZ(QOSSSPkgHead), kHeadEntries), 2, 2);

constexpr MetaDesc kQos = Struct("QOSSSQos", SZ(QOSSSQos), kCsQosEntries);
constexpr MetaDesc kAppendDesc =
    Union("QOSSSAppendDesc", SZ(QOSSSAppendDesc), kCsAppendDescEntries, QOS_APPEND_DESC_NO, QOS_APPEND_DESC_COMM);

constexpr MetaEntry kQosRepEntries[] = {
    Field("QosID", T::Int, OFF(QOSSSQosRep, QosID), 4),
    Field("QosVal", T::Int, OFF(QOSSSQosRep, QosVal), 4),
    Field("AppendDescFlag", T::Int, OFF(QOSSSQosRep, AppendDescFlag), 4),
    Selected("AppendDesc", &kAppendDesc, OFF(QOSSSQosRep, AppendDesc), SZ(QOSSSAppendDesc),
             Ref(4, OFF(QOSSSQosRep, AppendDescFlag))),
};
constexpr MetaDesc kQosRep = Struct("QOSSSQosRep", SZ(QOSSSQosRep), kQosRepEntries);

constexpr MetaEntry kGetReqEntries[] = {
    Field("BusinessID", T::Int, OFF(QOSSSGetReq, BusinessID), 4),
    Field("ReqIP", T::Ip, OFF(QOSSSGetReq, ReqIP), 4),
    Field("ReqPort", T::SmallUInt, OFF(QOSSSGetReq, ReqPort), 2),
    Field("SpdScore", T::SmallUInt, OFF(QOSSSGetReq, SpdScore), 2),
    Field("ProtoVer", T::Int, OFF(QOSSSGetReq, ProtoVer), 4),
    Field("Seq", T::UInt, OFF(QOSSSGetReq, Seq), 4),
    Field("QosResFlag", T::SmallUInt, OFF(QOSSSGetReq, QosResFlag), 2),
    Field("Res", T::SmallUInt, OFF(QOSSSGetReq, Res), 2),
};
constexpr MetaDesc kGetReq = Struct("QOSSSGetReq", SZ(QOSSSGetReq), kGetReqEntries);

constexpr MetaEntry kGetResEntries[] = {
    Field("BusinessID", T::Int, OFF(QOSSSGetRes, BusinessID), 4),
    Field("ReqIP", T::Ip, OFF(QOSSSGetRes, ReqIP), 4),
    Field("ReqPort", T::SmallUInt, OFF(QOSSSGetRes, ReqPort), 2),
    Field("Score", T::SmallUInt, OFF(QOSSSGetRes, Score), 2),
    Field("ProtoVer", T::Int, OFF(QOSSSGetRes, ProtoVer), 4),
    Field("Seq", T::UInt, OFF(QOSSSGetRes, Seq), 4),
    Field("QosResFlag", T::SmallUInt, OFF(QOSSSGetRes, QosResFlag), 2),
    Field("QosNum", T::SmallUInt, OFF(QOSSSGetRes, QosNum), 2),
    Nested("QosList", &kQos, OFF(QOSSSGetRes, QosList), SZ(QOSSSQos), QOS_CS_MAX_QOSLIST,
           Ref(2, OFF(QOSSSGetRes, QosNum))),
};
constexpr MetaDesc kGetRes = Struct("QOSSSGetRes", SZ(QOSSSGetRes), kGetResEntries);

constexpr MetaEntry kRepEntries[] = {
    Field("BusinessID", T::Int, OFF(QOSSSRep, BusinessID), 4),
    Field("IP", T::Ip, OFF(QOSSSRep, IP), 4),
    Text("CltID", OFF(QOSSSRep, CltID), ZEPH_CS_STRING_LEN),
    Text("ServerID", OFF(QOSSSRep, ServerID), ZEPH_CS_STRING_LEN),
    Field("QosNum", T::Int, OFF(QOSSSRep, QosNum), 4),
    Nested("QosList", &kQosRep, OFF(QOSSSRep, QosList), SZ(QOSSSQosRep), QOS_CS_MAX_REP,
           Ref(4, OFF(QOSSSRep, QosNum))),
};
constexpr MetaDesc kRep = Struct("QOSSSRep", SZ(QOSSSRep), kRepEntries);

constexpr MetaEntry kBodyEntries[] = {
    Member(Nested("QosGetReq", &kGetReq, 0, SZ(QOSSSGetReq)), QOS_SS_GET_REQ),
    Member(Nested("QosGetRes", &kGetRes, 0, SZ(QOSSSGetRes)), QOS_SS_GET_RES),
    Member(Nested("QosRep", &kRep, 0, SZ(QOSSSRep)), QOS_SS_REP),
};
constexpr MetaDesc kBody = Union("QOSSSPkgBody", SZ(QOSSSPkgBody), kBodyEntries, QOS_SS_GET_REQ, QOS_SS_REP);

constexpr uint32_t kCmdOffset = OFF(QOSSSPkg, Head) + OFF(QOSSSPkgHead, Cmd);
constexpr MetaEntry kPkgEntries[] = {
    Nested("Head", &kHead, OFF(QOSSSPkg, Head), SZ(QOSSSPkgHead)),
    // BodyLen sits at bytes 4..5 of the packet.
    WithSize(Selected("Body", &kBody, OFF(QOSSSPkg, Body), SZ(QOSSSPkgBody), Ref(2, kCmdOffset)),
             SizeField::AtOffset, 2, 4),
};
constexpr MetaDesc kPkg = Struct("QOSSSPkg", SZ(QOSSSPkg), kPkgEntries);

#undef OFF
#undef SZ

constexpr MetaMacro kMacros[] = {
    {"QOS_SS_MAGIC", QOS_SS_MAGIC, "magic of every packet head"},
    {"QOS_SS_GET_REQ", QOS_SS_GET_REQ, ""},
    {"QOS_SS_GET_RES", QOS_SS_GET_RES, ""},
    {"QOS_SS_REP", QOS_SS_REP, ""},
};

constexpr const MetaDesc* kDescs[] = {
    &kHead, &kGetReq, &kGetRes, &kQos, &kAppendDesc, &kQosRep, &kRep, &kBody, &kPkg,
};

// kDescs ordered by name, byte by byte.
constexpr uint16_t kNameIndex[] = {4, 1, 2, 8, 7, 0, 3, 5, 6};
static_assert(sizeof(kNameIndex) / sizeof(kNameIndex[0]) == sizeof(kDescs) / sizeof(kDescs[0]),
              "name index covers every description");

constexpr MetaLib kLib = {"qos_ss", kMacros, sizeof(kMacros) / sizeof(kMacros[0]), kDescs,
                          sizeof(kDescs) / sizeof(kDescs[0]), kNameIndex};

}  // namespace

const MetaLib& QosSsLib() { return kLib; }

}  // namespace udra::qos

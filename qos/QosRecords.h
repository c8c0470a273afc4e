// In-memory records of the QoS messages. Their wire form is given by the
// descriptions in QosLibs.h; integers here are in host order and strings are
// NUL-terminated text in fixed slots.
#pragma once

#include <cstdint>

namespace udra::qos {

// Constants of the client/server message library.
enum : int32_t {
  QOS_CS_MAGIC = 30066,
  QOS_CS_MAX_QOSLIST = 32,
  QOS_CS_MAX_GAMESVR = 64,
  QOS_CS_MAX_CONNDIP = 32,
  ZEPH_CS_STRING_LEN = 32,
  QOS_CS_MAX_REP = 8,
  QOS_CS_ADINFO_STR_LEN = 128,
  QOS_CS_ADINFO_BLOB_LEN = 512,
  QOS_CS_ADINFO_MAX_INT = 30,
  QOS_CS_ADINFO_MAX_STR = 10,
  QOS_MAX_RTT = 3000,
  QOS_MAX_STDDEV = 3000,
  QOS_RESFLAG_SCORE = 2,
  QOS_RESFLAG_QOSLIST = 4,
  QOS_RESFLAG_GAMESVR_LIST = 8,
  QOS_RESFLAG_CONNDIP_LIST = 16,
  QOS_APPEND_DESC_NO = 0,
  QOS_APPEND_DESC_VELMAR = 1,
  QOS_APPEND_DESC_COMM = 2,
  QOS_SPDTST_REQ = 1,
  QOS_SPDTST_RES = 2,
  QOS_GET_REQ = 3,
  QOS_GET_RES = 4,
  QOS_REP = 5,
};

// Constants of the server-to-server library.
enum : int32_t {
  QOS_SS_MAGIC = 30067,
  QOS_SS_GET_REQ = 1,
  QOS_SS_GET_RES = 2,
  QOS_SS_REP = 3,
};

// Version of every field and message of both libraries.
constexpr uint32_t kQosProtoVersion = 10;

struct QOSCSPkgHead {
  uint16_t Magic;
  uint16_t HeadLen;
  uint16_t BodyLen;
  uint16_t Cmd;
  int32_t ProtoVer;
  uint32_t Seq;
};

struct QOSCSTime {
  int32_t tv_sec;
  int32_t tv_usec;
};

struct QOSSpdTstReq {
  QOSCSTime CSendTime;
};

struct QOSSpdTstRes {
  QOSCSTime CSendTime;
  QOSCSTime SRecvTime;
  QOSCSTime SSendTime;
};

struct QOSSpdData {
  uint16_t Rtt;
  uint16_t StdDev;
  uint16_t LostRate;
  uint16_t Res;
};

struct QOSGetReq {
  int32_t BusinessID;
  uint16_t QosResFlag;
  uint16_t SpdFlag;
  QOSSpdData SpdData[1];  // SpdFlag of them
};

struct QOSCSQos {
  int32_t QosID;
  int32_t QosVal;
  int32_t DurationTime;
};

struct QOSConndIPPortList {
  char ConndIP[ZEPH_CS_STRING_LEN];
  uint32_t ConndPort;
};

struct QosCSGameSvrList {
  char Mask[ZEPH_CS_STRING_LEN];
  int32_t GameSvrNum;
  char GameSvrIPList[QOS_CS_MAX_GAMESVR][ZEPH_CS_STRING_LEN];
};

struct QOSGetRes {
  uint16_t Score;
  uint16_t QosNum;
  uint16_t GroupID;
  uint16_t QosResFlag;
  QOSCSQos QosList[QOS_CS_MAX_QOSLIST];
  uint32_t ConndIPPortNum;
  QOSConndIPPortList ConndIPPortList[QOS_CS_MAX_CONNDIP];
  QosCSGameSvrList GameSvrList;
};

struct QOSAppendDescNo {
  int32_t Res;
};

struct QOSAppendDescComm {
  int32_t IntNum;
  int32_t IntList[QOS_CS_ADINFO_MAX_INT];
  int32_t StrNum;
  char StrList[QOS_CS_ADINFO_MAX_STR][QOS_CS_ADINFO_STR_LEN];
};

struct QosAdInfo {
  int32_t StatType;
  int32_t StatID;
  int32_t Reserved1;
  int32_t Reserved2;
  char IP[ZEPH_CS_STRING_LEN];
  int32_t IntNum;
  int32_t IntList[QOS_CS_ADINFO_MAX_INT];
  int32_t StrNum;
  char StrList[QOS_CS_ADINFO_MAX_STR][QOS_CS_ADINFO_STR_LEN];
  int32_t Resvlen;
  char Resv[QOS_CS_ADINFO_BLOB_LEN];
  int32_t Bloblen;
  char Blob[QOS_CS_ADINFO_BLOB_LEN];
};

struct QOSAppendDescVelmar {
  int32_t Uin;
  int32_t Time;
  QosAdInfo AdInfo;
};

union QOSAppendDesc {
  QOSAppendDescNo No;
  QOSAppendDescVelmar Velmar;
  QOSAppendDescComm Comm;
};

struct QOSCSQosRep {
  int32_t QosID;
  int32_t QosVal;
  int32_t AppendDescFlag;
  QOSAppendDesc AppendDesc;
};

struct QOSRep {
  int32_t BusinessID;
  char CltID[ZEPH_CS_STRING_LEN];
  char ServerID[ZEPH_CS_STRING_LEN];
  int32_t QosNum;
  QOSCSQosRep QosList[QOS_CS_MAX_REP];
};

union QOSCSPkgBody {
  QOSSpdTstReq TestReq;
  QOSSpdTstRes TestRes;
  qos::QOSGetReq QOSGetReq;
  qos::QOSGetRes QOSGetRes;
  qos::QOSRep QOSRep;
};

struct QOSCSPkg {
  QOSCSPkgHead Head;
  QOSCSPkgBody Body;
};

// Server-to-server messages.
struct QOSSSPkgHead {
  uint16_t Magic;
  uint16_t HeadLen;
  uint16_t BodyLen;
  uint16_t Cmd;
};

using QOSSSQos = QOSCSQos;
using QOSSSQosRep = QOSCSQosRep;
using QOSSSAppendDesc = QOSAppendDesc;

struct QOSSSGetReq {
  int32_t BusinessID;
  uint32_t ReqIP;
  uint16_t ReqPort;
  uint16_t SpdScore;
  int32_t ProtoVer;
  uint32_t Seq;
  uint16_t QosResFlag;
  uint16_t Res;
};

struct QOSSSGetRes {
  int32_t BusinessID;
  uint32_t ReqIP;
  uint16_t ReqPort;
  uint16_t Score;
  int32_t ProtoVer;
  uint32_t Seq;
  uint16_t QosResFlag;
  uint16_t QosNum;
  QOSSSQos QosList[QOS_CS_MAX_QOSLIST];
};

struct QOSSSRep {
  int32_t BusinessID;
  uint32_t IP;
  char CltID[ZEPH_CS_STRING_LEN];
  char ServerID[ZEPH_CS_STRING_LEN];
  int32_t QosNum;
  QOSSSQosRep QosList[QOS_CS_MAX_REP];
};

union QOSSSPkgBody {
  QOSSSGetReq QosGetReq;
  QOSSSGetRes QosGetRes;
  QOSSSRep QosRep;
};

struct QOSSSPkg {
  QOSSSPkgHead Head;
  QOSSSPkgBody Body;
};

}  // namespace udra::qos

#include "qos/QosPacket.h"

#include "qos/Packer.h"
#include "qos/QosLibs.h"

namespace udra::qos {

int32_t EncodeQosPacket(const QOSCSPkg& pkg, uint8_t* out, size_t capacity, size_t& len) {
  len = 0;
  const MetaDesc* desc = FindMeta(QosCsLib(), "QOSCSPkg");
  size_t outSize = capacity < kQosMaxPacket ? capacity : kQosMaxPacket;
  size_t recordSize = sizeof(pkg);
  int32_t rc = Pack(desc, out, &outSize, &pkg, &recordSize, kQosProtoVersion);
  if (rc == 0) len = outSize;
  return rc;
}

int32_t DecodeQosPacket(const uint8_t* data, size_t len, QOSCSPkg& pkg) {
  const MetaDesc* headDesc = FindMeta(QosCsLib(), "QOSCSPkgHead");
  const MetaDesc* pkgDesc = FindMeta(QosCsLib(), "QOSCSPkg");
  QOSCSPkgHead head{};
  size_t headSize = sizeof(head);
  size_t inSize = len;
  int32_t rc = Unpack(headDesc, &head, &headSize, data, &inSize, kQosProtoVersion);
  if (rc != 0) return rc;
  if (head.ProtoVer < 0) return kPackBadVersion;
  // Version 0 and versions above ours are read as ours; the packer rejects 1..9.
  const uint32_t version = static_cast<uint32_t>(head.ProtoVer);
  size_t recordSize = sizeof(pkg);
  inSize = len;
  return Unpack(pkgDesc, &pkg, &recordSize, data, &inSize, version);
}

}  // namespace udra::qos

// Encoding and decoding of whole QOSCSPkg datagrams.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qos/QosRecords.h"

namespace udra::qos {

// Largest packet the client sends or reads.
constexpr size_t kQosMaxPacket = 20152;

// Packs `pkg` (HeadLen and BodyLen are filled in on the wire) into `out`.
// Returns 0 and the length in `len`, or a negative packer code.
int32_t EncodeQosPacket(const QOSCSPkg& pkg, uint8_t* out, size_t capacity, size_t& len);

// Decodes a received datagram: the head first, for the sender's ProtoVer; 0 or
// a version above ours decodes as ours, any version from 1 to 9 (or negative)
// is rejected. Returns 0 or a negative packer code.
int32_t DecodeQosPacket(const uint8_t* data, size_t len, QOSCSPkg& pkg);

}  // namespace udra::qos

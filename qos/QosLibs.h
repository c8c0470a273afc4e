// The two QoS description libraries and the packet-level encode and decode
// built on them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qos/MetaLib.h"
#include "qos/QosRecords.h"

namespace udra::qos {

const MetaLib& QosCsLib();  // "qos_cs": client <-> collector packets
const MetaLib& QosSsLib();  // "qos_ss": collector <-> collector packets

}  // namespace udra::qos

// Entry tables of qos_cs that qos_ss shares (its QoS items and report
// descriptions equal the client ones).
#pragma once

#include "qos/MetaLib.h"

namespace udra::qos {

extern const MetaEntry kCsQosEntries[3];         // QOSCSQos
extern const MetaEntry kCsAppendDescEntries[3];  // members of QOSAppendDesc

}  // namespace udra::qos

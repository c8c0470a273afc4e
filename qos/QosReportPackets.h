// The packets of one report, in the order they go out: the summary, then the
// heavily used, missing and failed paths (7 per record, 8 records per packet).
#pragma once

#include <functional>

#include "qos/QosRecords.h"
#include "qos/QosReport.h"

namespace udra::qos {

// Sends one QOS_REP body; false when it could not be sent.
using QosPacketSender = std::function<bool(const QOSRep&)>;

// Builds each packet only after the one before it was sent, stops at the
// first failed send, and logs the summary and the last packet of each list
// through input.log. False when a send failed.
bool SendReportPackets(const QosReportInput& input, const QosPacketSender& send);

}  // namespace udra::qos

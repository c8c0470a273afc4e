// Building the collector table of a protocol handle and asking the collectors
// what they know (internal to ZephHandle).
#pragma once

#include "qos/ZephHandle.h"

namespace udra::qos {

// True when `host` consists only of digits and dots.
bool IsDottedHost(const std::string& host);

// One collector, the statistics host itself (host given by name).
bool BuildSingleCollector(ZephHandle& h);

// Asks the statistics host (a dotted address) for its collector list: up to 3
// requests, 2 s each, then a table of the first listed collector.
bool QueryCollectorList(ZephHandle& h);

// Sends QOS_GET_REQ to every collector not done and stores the answers, until
// each has answered, failed to send 4 times or stayed silent for 3000 ms.
void RunExchange(ZephHandle& h);

}  // namespace udra::qos

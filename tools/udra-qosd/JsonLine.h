// One report record as a JSON line.
#pragma once

#include <cstdint>
#include <string>

#include "qos/QosRecords.h"

namespace qosd {

// A JSON string literal of `ansi` (GBK), converted to UTF-8; bytes that do not
// convert are written as \u00XX.
std::string JsonString(const std::string& ansi);

std::string ReportRecordJson(const udra::qos::QOSCSQosRep& record, const std::string& sender,
                             uint32_t seq, int64_t time);

}  // namespace qosd

// One report record as a JSON line.
#pragma once

#include <cstdint>
#include <string>

#include "qos/QosRecords.h"

namespace qosd {

std::string ReportRecordJson(const udra::qos::QOSCSQosRep& record, const std::string& sender,
                             uint32_t seq, int64_t time);

}  // namespace qosd

#include "JsonLine.h"

#include <cstdio>
#include <cstring>

#include "JsonText.h"

namespace qosd {
std::string ReportRecordJson(const udra::qos::QOSCSQosRep& record, const std::string& sender,
                             uint32_t seq, int64_t time) {
  using namespace udra::qos;
  const bool comm = record.AppendDescFlag == QOS_APPEND_DESC_COMM;
  const QOSAppendDescComm& c = record.AppendDesc.Comm;
  std::string line = "{\"kind\":";
  line += (comm && c.IntNum > 0) ? std::to_string(c.IntList[0]) : std::string("null");
  line += ",\"qos_id\":" + std::to_string(record.QosID);
  line += ",\"ints\":[";
  for (int32_t i = 0; comm && i < c.IntNum; ++i) {
    if (i) line += ',';
    line += std::to_string(c.IntList[i]);
  }
  line += "],\"strings\":[";
  for (int32_t i = 0; comm && i < c.StrNum; ++i) {
    if (i) line += ',';
    line += udra::tool::JsonStringFromAnsi(std::string(c.StrList[i], strnlen(c.StrList[i], sizeof(c.StrList[i]))));
  }
  line += "],\"sender\":" + udra::tool::JsonString(sender);
  line += ",\"seq\":" + std::to_string(seq);
  line += ",\"time\":" + std::to_string(time) + "}";
  return line;
}

}  // namespace qosd

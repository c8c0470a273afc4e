#include "JsonLine.h"

#include <cstdio>
#include <cstring>

#include "platform/CodePage.h"

namespace qosd {
namespace {

void AppendEscaped(std::string& out, const std::string& utf8, bool bytesAsLatin1) {
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || (bytesAsLatin1 && c >= 0x80)) {
      char buf[8];
      std::snprintf(buf, sizeof(buf), "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
}

}  // namespace

std::string JsonString(const std::string& ansi) {
  std::string out = "\"";
  std::string utf8 = udra::platform::AnsiToUtf8(ansi);
  if (utf8.empty() && !ansi.empty()) {
    AppendEscaped(out, ansi, true);
  } else {
    AppendEscaped(out, utf8, false);
  }
  out += '"';
  return out;
}

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
    line += JsonString(std::string(c.StrList[i], strnlen(c.StrList[i], sizeof(c.StrList[i]))));
  }
  line += "],\"sender\":" + JsonString(sender);
  line += ",\"seq\":" + std::to_string(seq);
  line += ",\"time\":" + std::to_string(time) + "}";
  return line;
}

}  // namespace qosd

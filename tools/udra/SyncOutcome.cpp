#include "SyncOutcome.h"

#include <cstdlib>
#include <cstring>

#include "JsonText.h"
#include "platform/CodePage.h"

namespace udra::tool {
namespace {

// The host's texts are ASCII but carry URLs and names that may be GBK.
std::string Utf8(const char* ansi) {
  const std::string utf8 = platform::AnsiToUtf8(ansi);
  return utf8.empty() ? ansi : utf8;
}

bool Failed(const SyncOutcome& o) { return o.haveFailure && o.failure.text[0] != '\0'; }

}  // namespace

const char* StateName(int32_t state) {
  switch (state) {
    case UDRA_SYNC_RUNNING: return "running";
    case UDRA_SYNC_DONE: return "done";
    case UDRA_SYNC_FAILED: return "failed";
    case UDRA_SYNC_ERROR_CODE22: return "server error";
    case UDRA_SYNC_CANCELLED: return "cancelled";
    case UDRA_SYNC_ERROR_KIND1: return "wrong size or MD5, or a bad request";
    case UDRA_SYNC_ERROR_KIND2: return "the store refused it";
    case UDRA_SYNC_ERROR_KIND3: return "the host is shutting down";
    default: return "failed (other)";
  }
}

int HttpStatusOf(const std::string& text) {
  const size_t at = text.find("(HTTP ");
  if (at == std::string::npos) return 0;
  const char* digits = text.c_str() + at + 6;
  char* end = nullptr;
  const long status = std::strtol(digits, &end, 10);
  return end != digits && *end == ')' && status >= 100 && status <= 999 ? int(status) : 0;
}

std::string OutcomeText(const SyncOutcome& o) {
  std::string line = o.path + ": " + StateName(o.info.state);
  if (o.info.state == UDRA_SYNC_DONE || !Failed(o))
    line += " (" + std::to_string(o.info.doneSize) + " of " + std::to_string(o.info.totalSize) + " bytes)";
  if (Failed(o)) {
    const std::string name = Utf8(o.failure.name);
    if (!name.empty() && name != o.path) line += ": " + name;
    line += ": " + Utf8(o.failure.text);
  }
  if (o.timedOut) line += ", timed out";
  return line;
}

std::string OutcomeJson(const SyncOutcome& o) {
  std::string json = "{\"path\":" + JsonString(o.path) + ",\"state\":" + std::to_string(o.info.state) +
                     ",\"stateName\":" + JsonString(StateName(o.info.state)) +
                     ",\"totalSize\":" + std::to_string(o.info.totalSize) +
                     ",\"doneSize\":" + std::to_string(o.info.doneSize) +
                     ",\"timedOut\":" + (o.timedOut ? "true" : "false");
  if (Failed(o)) {
    json += ",\"reason\":" + JsonString(Utf8(o.failure.text)) + ",\"code\":" + std::to_string(o.failure.code) +
            ",\"kind\":" + std::to_string(o.failure.kind) + ",\"failedName\":" + JsonString(Utf8(o.failure.name));
    if (const int status = HttpStatusOf(o.failure.text)) json += ",\"httpStatus\":" + std::to_string(status);
  }
  return json + "}";
}

}  // namespace udra::tool

// How a finished sync is told to a person and to a script.
#pragma once

#include <string>

#include "udra/Diagnostics.h"

namespace udra::tool {

struct SyncOutcome {
  std::string path;     // as the catalogue spells it, UTF-8
  SyncInfo info{};      // the final record
  bool timedOut = false;
  bool haveFailure = false;
  UDRASyncFailure failure{};  // the library's account, when it gives one
};

const char* StateName(int32_t state);
// The HTTP status in the host's text ("... (HTTP 404) ..."), 0 when none.
int HttpStatusOf(const std::string& text);

// "Data\Maps: failed: Couldn't connect ...; URL http://..." (one line, UTF-8).
std::string OutcomeText(const SyncOutcome& outcome);
// One JSON object: path, state, stateName, sizes, timedOut and, after a
// failure, reason, code, kind, failedName and httpStatus (when known).
std::string OutcomeJson(const SyncOutcome& outcome);

}  // namespace udra::tool

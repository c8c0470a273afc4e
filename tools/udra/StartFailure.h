// Why a start-up failed, in words a person can act on: the error lines this
// process just wrote to the installation's log, and what is missing from the
// installation folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace udra::tool {

struct StartFailureFacts {
  std::string folder;       // the installation folder
  std::string fileList;     // the configured catalogue, relative to the folder
  uint32_t processId = 0;   // whose log lines to show
  int64_t since = 0;        // log files last written before this (Unix time) are skipped
};

// Lines to print, each without a newline; in UTF-8.
std::vector<std::string> ExplainStartFailure(const StartFailureFacts& facts);

}  // namespace udra::tool

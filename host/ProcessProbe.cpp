#include "host/ProcessProbe.h"

#include <errno.h>
#include <signal.h>

#include <fstream>
#include <string>

namespace udra::host {

bool ProcessAlive(int32_t pid) {
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0 && errno != EPERM) return false;
  // An ended child that its parent has not collected yet still answers kill.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;  // no /proc: trust kill
  const size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() || (line[close + 2] != 'Z' && line[close + 2] != 'X');
}

}  // namespace udra::host

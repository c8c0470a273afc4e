#include "platform/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

namespace udra::platform {

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

int TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  const char* columns = std::getenv("COLUMNS");
  const int n = columns ? std::atoi(columns) : 0;
  return n > 0 ? n : 80;
}

void UseUtf8Terminal() {}

void UseBinaryStandardOutput() {}

}  // namespace udra::platform

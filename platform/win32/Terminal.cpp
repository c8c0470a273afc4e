#include "platform/Terminal.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

namespace udra::platform {

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 0) return columns;
  }
  const char* columns = std::getenv("COLUMNS");
  const int n = columns ? std::atoi(columns) : 0;
  return n > 0 ? n : 80;
}

void UseUtf8Terminal() {
  SetConsoleOutputCP(CP_UTF8);
  // Lets the progress line's "clear to the end of the line" work as on a
  // POSIX terminal where the console supports it.
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(err, &mode)) SetConsoleMode(err, mode | 0x0004 /* ENABLE_VIRTUAL_TERMINAL_PROCESSING */);
}

void UseBinaryStandardOutput() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace udra::platform

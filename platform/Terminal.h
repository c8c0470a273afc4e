// The terminal the command-line tools draw their progress on.
#pragma once

namespace udra::platform {

// Whether standard error is a terminal (progress is drawn only there).
bool StandardErrorIsTerminal();
// Columns of the terminal on standard error; else $COLUMNS; else 80.
int TerminalColumns();
// Makes the terminal show UTF-8 text as such (Windows: the console's output
// code page; POSIX terminals take UTF-8 already).
void UseUtf8Terminal();
// Makes standard output pass bytes through unchanged (Windows: no CR added
// before LF, no stop at a Ctrl-Z); POSIX streams are binary already.
void UseBinaryStandardOutput();

}  // namespace udra::platform

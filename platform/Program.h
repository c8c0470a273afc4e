// Facts about the running program that the command-line tools need.
#pragma once

#include <string>
#include <vector>

namespace udra::platform {

// Full path of the program's executable, in the encoding the other platform
// calls take for file names (the ANSI code page on Windows); empty when it
// cannot be determined.
std::string ExecutablePath();

// The program's arguments, argv[0] included, in UTF-8. POSIX: argv as given
// (the terminal's encoding, UTF-8). Windows: the wide command line, so that
// names outside the ANSI code page arrive intact.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace udra::platform

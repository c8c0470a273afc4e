// The udra command line: the command, its options and its paths.
#pragma once

#include <string>

#include "Commands.h"

namespace udra::tool {

enum class PathRule { Unknown, None, Optional, Required };

// What a command takes besides its options (Unknown: no such command).
PathRule PathsOf(const std::string& command);

// Parses argv[1..] (argv[1] is the command). False with a message in `error`
// for a usage error: an unknown command or option, a missing or malformed
// value, paths given to a command that takes none, none given to one that
// needs them. `options.dir` stays empty when --dir is not given.
bool ParseArguments(int argc, char** argv, std::string& command, Options& options, std::string& error);

// Reads a whole decimal number in [min, max]; false for anything else
// (empty, signs where none belong, trailing characters, overflow).
bool ParseNumber(const char* text, long long min, long long max, long long& out);

}  // namespace udra::tool

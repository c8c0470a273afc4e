// The udra tool's commands.
#pragma once

#include <string>

namespace udra::tool {

struct Options {
  std::string dir = ".";  // the installation folder
  bool json = false;
};

int InfoCommand(const Options& options);

// Writes `text` as a JSON string literal.
std::string JsonString(const std::string& text);

}  // namespace udra::tool

// udra: plays the game's part against an installation folder.
#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"

namespace {

const char kUsage[] =
    "usage: udra COMMAND [--dir FOLDER] [--json]\n"
    "\n"
    "commands:\n"
    "  info    load the library from FOLDER (default: the current folder) and print\n"
    "          its version text, user id, client GUID, version section and file list\n"
    "\n"
    "options:\n"
    "  --dir FOLDER  the installation folder that holds libUDRAClient.so\n"
    "  --json        print one JSON object instead of text\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  udra::tool::Options options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dir" && i + 1 < argc) {
      options.dir = argv[++i];
    } else if (arg == "--json") {
      options.json = true;
    } else {
      std::fprintf(stderr, "udra: unknown argument %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (command == "info") return udra::tool::InfoCommand(options);
  std::fprintf(stderr, "udra: unknown command %s\n%s", command.c_str(), kUsage);
  return 2;
}

// udra: plays the game's part against an installation folder.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "Commands.h"
#include "platform/CodePage.h"

namespace {

const char kUsage[] =
    "usage: udra COMMAND [options] [PATH...]\n"
    "\n"
    "commands (PATH is a catalogued path such as Data\\Maps or Data/a.txt):\n"
    "  info             print the host's version text, user id, client GUID, version\n"
    "                   section and file list of the installation (no start-up)\n"
    "  init             start the manager (and the host) and shut it down again\n"
    "  ls [PATH...]     list the files and folders below PATH (default: everything)\n"
    "  stat PATH...     size, digest, package and whether it is downloaded\n"
    "  cat PATH...      write the files' bytes to standard output\n"
    "  sync PATH...     download files or folders through the host, with progress;\n"
    "                   Ctrl-C cancels the running sync\n"
    "  extract PATH...  write the files out below the installation's UDRADownload\n"
    "  verify [PATH...] check the downloaded entries against the catalogue (default:\n"
    "                   every entry); exit 1 when something is wrong. With --repair\n"
    "                   the bad entries are removed, so that the next sync fetches\n"
    "                   them (no start-up, the host is not needed)\n"
    "\n"
    "options:\n"
    "  --dir FOLDER     the installation folder that holds libUDRAClient.so (default .)\n"
    "  --url ROOT       download URL root (default: DownloadUrlRoot of UDRAConfig.ini)\n"
    "  --cache BYTES    content-cache limit (default 67108864)\n"
    "  --priority N     sync priority (default 0; 101 keeps the request out of the\n"
    "                   resource-use record)\n"
    "  --timeout SEC    longest wait for one sync (default 600)\n"
    "  --json           one JSON object per line instead of text\n"
    "  --repair         (verify) remove what was found wanting\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  using Command = int (*)(const udra::tool::Options&);
  const std::map<std::string, Command> commands = {
      {"info", udra::tool::InfoCommand}, {"init", udra::tool::InitCommand},   {"ls", udra::tool::ListCommand},
      {"stat", udra::tool::StatCommand}, {"cat", udra::tool::CatCommand},     {"sync", udra::tool::SyncCommand},
      {"extract", udra::tool::ExtractCommand}, {"verify", udra::tool::VerifyCommand}};
  const auto command = commands.find(argv[1]);
  if (command == commands.end()) {
    std::fprintf(stderr, "udra: unknown command %s\n%s", argv[1], kUsage);
    return 2;
  }
  udra::tool::Options options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--dir" && hasValue) {
      options.dir = argv[++i];
    } else if (arg == "--url" && hasValue) {
      options.url = argv[++i];
    } else if (arg == "--cache" && hasValue) {
      options.cacheLimit = uint32_t(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--priority" && hasValue) {
      options.priority = int32_t(std::strtol(argv[++i], nullptr, 10));
    } else if (arg == "--timeout" && hasValue) {
      options.timeoutSeconds = uint32_t(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--repair") {
      options.repair = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      std::fprintf(stderr, "udra: unknown or incomplete option %s\n%s", arg.c_str(), kUsage);
      return 2;
    } else {
      // Catalogued names are in the ANSI code page (GBK); the command line is UTF-8.
      const std::string ansi = udra::platform::Utf8ToAnsi(arg);
      options.paths.push_back(ansi.empty() ? arg : ansi);
    }
  }
  if (options.cacheLimit == 0) options.cacheLimit = 1;
  return command->second(options);
}

// udra: plays the game's part against an installation folder.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "Arguments.h"
#include "Commands.h"
#include "LibraryHandle.h"
#include "platform/FileSystem.h"
#include "platform/Program.h"
#include "platform/Terminal.h"

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
    "  --dir FOLDER     the installation folder that holds the library (default:\n"
    "                   ../lib/udra beside this program when it is there, else .)\n"
    "  --url ROOT       download URL root (default: DownloadUrlRoot of UDRAConfig.ini)\n"
    "  --cache BYTES    content-cache limit, 1 to 2147483647 (default 67108864)\n"
    "  --priority N     sync priority (default 0; 101 keeps the request out of the\n"
    "                   resource-use record)\n"
    "  --timeout SEC    longest wait for one sync, at least 1 (default 600)\n"
    "  --json           one JSON object per line instead of text\n"
    "  --repair         (verify) remove what was found wanting\n";

// Without --dir: the installation this udra was installed with
// (bin/../lib/udra beside it) when there is one, else the current folder.
std::string DefaultFolder() {
  const std::string self = udra::platform::ExecutablePath();
  size_t cut = self.size();
  while (cut > 0 && !udra::platform::IsPathSeparator(self[cut - 1])) --cut;
  if (cut > 0) {
    const char sep = udra::platform::PathSeparator();
    const std::string folder = self.substr(0, cut) + ".." + sep + "lib" + sep + "udra";
    if (udra::platform::FileExists(folder + sep + udra::tool::LibraryHandle::FileName())) return folder;
  }
  return ".";
}

}  // namespace

int main(int argc, char** argv) {
  udra::platform::UseUtf8Terminal();
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  using Command = int (*)(const udra::tool::Options&);
  const std::map<std::string, Command> commands = {
      {"info", udra::tool::InfoCommand}, {"init", udra::tool::InitCommand},   {"ls", udra::tool::ListCommand},
      {"stat", udra::tool::StatCommand}, {"cat", udra::tool::CatCommand},     {"sync", udra::tool::SyncCommand},
      {"extract", udra::tool::ExtractCommand}, {"verify", udra::tool::VerifyCommand},
      {"predownload", udra::tool::PreDownloadCommand}};
  std::string name, error;
  udra::tool::Options options;
  if (!udra::tool::ParseArguments(argc, argv, name, options, error)) {
    std::fprintf(stderr, "udra: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (options.dir.empty()) options.dir = DefaultFolder();
  return commands.at(name)(options);
}

#include "Arguments.h"

#include <getopt.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <map>

#include "platform/CodePage.h"

namespace udra::tool {

PathRule PathsOf(const std::string& command) {
  static const std::map<std::string, PathRule> rules = {
      {"info", PathRule::None},         {"init", PathRule::None},         {"predownload", PathRule::None},
      {"ls", PathRule::Optional},       {"verify", PathRule::Optional},   {"stat", PathRule::Required},
      {"cat", PathRule::Required},      {"sync", PathRule::Required},     {"extract", PathRule::Required}};
  const auto it = rules.find(command);
  return it == rules.end() ? PathRule::Unknown : it->second;
}

bool ParseNumber(const char* text, long long min, long long max, long long& out) {
  if (!text || !*text) return false;
  const bool negative = *text == '-';
  const char* digits = negative ? text + 1 : text;
  if (*digits < '0' || *digits > '9') return false;  // no blanks, no '+', no bare sign
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (errno == ERANGE || *end != '\0' || value < min || value > max) return false;
  out = value;
  return true;
}

bool ParseArguments(int argc, char** argv, std::string& command, Options& options, std::string& error) {
  if (argc < 2) {
    error = "no command";
    return false;
  }
  command = argv[1];
  const PathRule rule = PathsOf(command);
  if (rule == PathRule::Unknown) {
    error = "unknown command " + command;
    return false;
  }
  enum { kDir = 1, kUrl, kCache, kPriority, kTimeout, kJson, kRepair };
  static const option longOptions[] = {
      {"dir", required_argument, nullptr, kDir},       {"url", required_argument, nullptr, kUrl},
      {"cache", required_argument, nullptr, kCache},   {"priority", required_argument, nullptr, kPriority},
      {"timeout", required_argument, nullptr, kTimeout}, {"json", no_argument, nullptr, kJson},
      {"repair", no_argument, nullptr, kRepair},       {nullptr, 0, nullptr, 0}};
  // The command is argv[1]; options and paths follow in any order.
  optind = 1;
  opterr = 0;
  const int count = argc - 1;
  char** args = argv + 1;
  auto number = [&](const char* name, long long min, long long max, long long& out) {
    if (ParseNumber(optarg, min, max, out)) return true;
    error = std::string("--") + name + " wants a whole number from " + std::to_string(min) + " to " +
            std::to_string(max) + ", not \"" + optarg + "\"";
    return false;
  };
  for (;;) {
    int index = 0;
    const int c = getopt_long(count, args, ":", longOptions, &index);
    if (c == -1) break;
    long long value = 0;
    switch (c) {
      case kDir: options.dir = optarg; break;
      case kUrl: options.url = optarg; break;
      case kCache:
        if (!number("cache", 1, INT32_MAX, value)) return false;
        options.cacheLimit = uint32_t(value);
        break;
      case kPriority:
        if (!number("priority", INT32_MIN, INT32_MAX, value)) return false;
        options.priority = int32_t(value);
        break;
      case kTimeout:
        if (!number("timeout", 1, UINT32_MAX / 1000u, value)) return false;
        options.timeoutSeconds = uint32_t(value);
        break;
      case kJson: options.json = true; break;
      case kRepair: options.repair = true; break;
      case ':': error = std::string("option ") + args[optind - 1] + " wants a value"; return false;
      default: error = std::string("unknown option ") + args[optind - 1]; return false;
    }
  }
  for (int i = optind; i < count; ++i) {
    // Catalogued names are in the ANSI code page (GBK); the command line is UTF-8.
    const std::string ansi = platform::Utf8ToAnsi(args[i]);
    options.paths.push_back(ansi.empty() ? args[i] : ansi);
  }
  if (rule == PathRule::None && !options.paths.empty()) {
    error = command + " takes no paths";
    return false;
  }
  if (rule == PathRule::Required && options.paths.empty()) {
    error = command + " needs at least one PATH";
    return false;
  }
  if (options.repair && command != "verify") {
    error = "--repair belongs to verify";
    return false;
  }
  return true;
}

}  // namespace udra::tool

// udra-publish: turns a folder of game files into a servable content tree and
// its FileList.dat, or wraps one LZMA86 stream into a stored entry.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "EntryEncoder.h"
#include "Publisher.h"
#include "Report.h"
#include "Utf8Path.h"
#include "codec/Lzma86Api.h"
#include "platform/Program.h"
#include "platform/Terminal.h"

namespace {

using udra::publish::PublishOptions;

const char kUsage[] =
    "usage: udra-publish SRC OUT [options]\n"
    "       udra-publish --wrap-lzma86 IN OUT\n"
    "\n"
    "Writes every file below SRC in stored form to OUT/URLFOLDER/name, the\n"
    "version's catalogue OUT/URLFOLDER/FileList.dat and, last, OUT/FileList.dat.\n"
    "When OUT already holds a version, files and packages it stores unchanged\n"
    "are linked from it; the new version needs a URL folder of its own.\n"
    "\n"
    "options:\n"
    "  --url-folder DIR   folder on the download server (default: none)\n"
    "  --package FOLDER   store the files below FOLDER (relative to SRC) as one\n"
    "                     package FOLDER.pack; may be given several times\n"
    "  --level N          LZMA compression level 0..9 (default 6)\n"
    "  --filter MODE      x86 branch filter: none (default), x86 or auto\n"
    "                     (auto keeps the smaller result per file)\n"
    "  --quiet            no progress display\n"
    "  --prune            afterwards remove the files below OUT that neither the new\n"
    "                     nor the previous catalogue names\n"
    "  --json             print the summary as one JSON object\n"
    "  --wrap-lzma86 IN OUT  write the LZMA86 stream IN as a stored entry OUT\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "udra-publish: %s\n", message.c_str());
  return 1;
}

bool ReadAll(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream in(udra::publish::PathOf(path), std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

int WrapCommand(const std::string& in, const std::string& out) {
  std::vector<uint8_t> stream, stored;
  if (!ReadAll(in, stream)) return Fail("cannot read " + in);
  std::string error;
  if (!udra::publish::WrapLzma86(stream, stored, error)) return Fail(error + ": " + in);
  std::ofstream file(udra::publish::PathOf(out), std::ios::binary | std::ios::trunc);
  if (file)
    file.write(reinterpret_cast<const char*>(stored.data()), std::streamsize(stored.size()));
  if (!file || (file.close(), !file)) return Fail("cannot write " + out);
  return 0;
}

bool ParseLevel(const char* text, int& level) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > 9) return false;
  level = int(value);
  return true;
}

bool ParseFilter(const std::string& text, int& mode) {
  if (text == "none")
    mode = udra::lzma86::kFilterNone;
  else if (text == "x86")
    mode = udra::lzma86::kFilterX86;
  else if (text == "auto")
    mode = udra::lzma86::kFilterAuto;
  else
    return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Paths and names are UTF-8 from here on (on Windows taken from the wide
  // command line, so that names outside the ANSI code page survive).
  udra::platform::UseUtf8Terminal();
  std::vector<std::string> args = udra::platform::Utf8Arguments(argc, argv);
  if (!args.empty()) args.erase(args.begin());
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "--wrap-lzma86") {
    if (args.size() != 3) return Fail("--wrap-lzma86 takes IN and OUT");
    return WrapCommand(args[1], args[2]);
  }

  PublishOptions options;
  bool json = false;
  options.progress = udra::platform::StandardErrorIsTerminal();
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--url-folder" && hasValue) {
      options.urlFolder = args[++i];
    } else if (a == "--package" && hasValue) {
      options.packages.push_back(args[++i]);
    } else if (a == "--level" && hasValue) {
      if (!ParseLevel(args[++i].c_str(), options.encoder.level)) return Fail("bad --level");
    } else if (a == "--filter" && hasValue) {
      if (!ParseFilter(args[++i], options.encoder.filterMode)) return Fail("bad --filter");
    } else if (a == "--quiet") {
      options.progress = false;
    } else if (a == "--prune") {
      options.prune = true;
    } else if (a == "--json") {
      json = true;
    } else if (!a.empty() && a[0] == '-') {
      return Fail("unknown or incomplete option " + a + "\n" + kUsage);
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2) return Fail(std::string("SRC and OUT are required\n") + kUsage);
  options.source = positional[0];
  options.output = positional[1];

  udra::publish::Publisher publisher(options);
  std::string error;
  const bool ok = publisher.Run(error);
  // A failed prune comes after the new version is in place: say what it did.
  if (ok || publisher.Stats().pruned) {
    if (json)
      udra::publish::PrintJson(stdout, publisher.Stats());
    else
      udra::publish::PrintText(stdout, publisher.Stats());
  }
  return ok ? 0 : Fail(error);
}

#include "StartFailure.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Profile.h"

namespace udra::tool {
namespace {

namespace fs = std::filesystem;

// A log file is read up to this size from its end: a long-running host's
// log can be large, and a start-up writes its lines last.
constexpr std::uintmax_t kLogTailBytes = 256 * 1024;
constexpr size_t kMaxLines = 20;

// What a logged failure means, keyed by a fragment of the logged text (GBK
// bytes: this file is compiled with the execution character set UTF-8, so
// the fragments are the ASCII operation names).
struct Hint {
  const char* fragment;
  const char* text;
};
const Hint kHints[] = {
    {"LoadFileList()", "the catalogue could not be loaded (missing, unreadable or damaged)"},
    {"ZAV.dll", "ZAV.dll beside the library could not be loaded"},
    {"GetZAV()", "ZAV.dll gives no archive store"},
    {"LoadZAV()", "the archive store in UDRADownload could not be opened or created (is the folder writable? "
                  "is [ResPool] ReservedSize of UDRAHostApp.ini free on its disk?)"},
    {"m_udraShareState.Open()", "the downloader host did not come up (is UDRAHostApp.exe beside the library and "
                                "executable? its own log is in Logs too)"},
    {"OpenFileMapping()", "the downloader host did not publish its download table in time"},
    {"SetPrivilege()", "the process may not create the objects it shares with the host"},
    {"UDRAWndMsgProcessor::Initialize()", "the hidden message window could not be created"},
};

// Error lines of the library's loggers; lines of the message-window logger
// that carry the error tag but report success ("Initialize m_wnd = ...") and
// the first pipe attempt (a background connect follows it) say nothing
// about the failure.
bool Telling(const std::string& line) {
  if (line.find("[E]") == std::string::npos) return false;
  if (line.find("[UDRAWndMsgProcessor][E]Initialize m_wnd") != std::string::npos) return false;
  if (line.find("[UDRAWndMsgProcessor][E]Uninitialize m_wnd") != std::string::npos) return false;
  return line.find("m_udraClient.Start()") == std::string::npos;
}

std::vector<std::string> ErrorLines(const fs::path& logs, const StartFailureFacts& facts, bool& anyLog) {
  std::vector<std::string> lines;
  const std::string self = "[P" + std::to_string(facts.processId) + "]";
  std::error_code ec;
  for (fs::directory_iterator it(logs, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path path = it->path();
    if (path.extension() != ".log" || !it->is_regular_file(ec)) continue;
    const auto written = fs::last_write_time(path, ec);
    if (ec) continue;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        (written - fs::file_time_type::clock::now()) + std::chrono::system_clock::now().time_since_epoch());
    if (seconds.count() < facts.since - 1) continue;
    std::ifstream in(path, std::ios::binary);
    const std::uintmax_t size = fs::file_size(path, ec);
    if (!ec && size > kLogTailBytes) in.seekg(std::streamoff(size - kLogTailBytes));
    std::string line;
    while (std::getline(in, line) && lines.size() < kMaxLines) {
      if (line.find(self) == std::string::npos) continue;
      anyLog = true;
      if (!Telling(line)) continue;
      // "seq<TAB>hh:mm:ss<TAB>[P..][T..][logger][E]text": keep the logger and text.
      const size_t thread = line.find("][", line.find(self));
      std::string shown = thread == std::string::npos ? line : line.substr(thread + 1);
      const std::string utf8 = platform::AnsiToUtf8(shown);
      lines.push_back(utf8.empty() ? shown : utf8);
    }
  }
  return lines;
}

}  // namespace

std::vector<std::string> ExplainStartFailure(const StartFailureFacts& facts) {
  std::vector<std::string> out;
  const fs::path folder(facts.folder);
  bool anyLog = false;
  const std::vector<std::string> errors = ErrorLines(folder / "Logs", facts, anyLog);
  if (!errors.empty()) {
    out.push_back("the library logged (" + (folder / "Logs").string() + "):");
    for (const std::string& line : errors) out.push_back("  " + line);
  }
  std::set<std::string> said;
  for (const std::string& line : errors) {
    for (const Hint& hint : kHints) {
      if (line.find(hint.fragment) != std::string::npos && said.insert(hint.text).second)
        out.push_back(std::string("cause: ") + hint.text);
    }
  }

  // What the installation lacks, whatever the log says.
  const std::string catalogue = facts.fileList.empty() ? "FileList.dat" : facts.fileList;
  if (!platform::FileExists((folder / catalogue).string()))
    out.push_back("missing: " + (folder / catalogue).string() +
                  " (the catalogue; udra-publish writes FileList.dat at the top of its output: copy it here)");
  for (const char* companion : {"ZAV.dll", "LZMA.DLL", "UDRAHostApp.exe"}) {
    if (!platform::FileExists((folder / companion).string()))
      out.push_back("missing: " + (folder / companion).string());
  }
  if (!anyLog) {
    const std::string config = (folder / "LogConfig.ini").string();
    // A logger's own section replaces [Default] (the start-up lines are the
    // ResourceManager logger's).
    std::string letters;
    if (!platform::ReadProfileString(config, "ResourceManager", "WriteToLogFile", letters))
      platform::ReadProfileString(config, "Default", "WriteToLogFile", letters);
    if (letters.find('E') == std::string::npos)
      out.push_back("the library logged nothing: add WriteToLogFile=E to [Default] of " + config +
                    " to have it log why");
  }
  return out;
}

}  // namespace udra::tool

#include "log/Logger.h"

#include <cstdio>
#include <cstring>

#include "log/LogFile.h"
#include "platform/Profile.h"
#include "platform/System.h"
#include "util/Paths.h"

namespace udra {
namespace {

constexpr size_t kLineSize = 1024;
constexpr size_t kFormatPrefixSize = 256;

const char* TagLetter(Logger::Tag tag) {
  switch (tag) {
    case Logger::E: return "E";
    case Logger::T: return "T";
    case Logger::V: return "V";
    case Logger::D: return "D";
    case Logger::W: return "W";
    case Logger::C: return "C";
  }
  return "";
}

std::string ConfigPathFor(const std::string& modulePath) {
  const std::string folder = ParentFolder(modulePath);
  return JoinPath(folder.empty() ? modulePath : folder, "LogConfig.ini");
}

// Reads a value of at most 15 characters; `fallback` when the key is missing.
void ReadValue(const platform::ProfileFile& file, const char* section, const char* key, const char* fallback,
               char (&out)[16]) {
  std::string value;
  if (!file.ReadString(section, key, value, sizeof out)) value = fallback;
  std::snprintf(out, sizeof out, "%s", value.c_str());
}

// A format cut at the frame limit may end inside a conversion ("%", "%l",
// "%-0"), which would then take the newline as its conversion character.
// Such a tail is dropped: the line ends before it. `length` counts the
// pattern with its newline; returns the new length.
size_t DropCutConversion(char* pattern, size_t length) {
  const size_t body = length - 1;  // before the newline
  for (size_t i = 0; i < body;) {
    if (pattern[i] != '%') {
      ++i;
      continue;
    }
    size_t j = i + 1;
    if (j < body && pattern[j] == '%') {
      i = j + 1;
      continue;
    }
    while (j < body && pattern[j] && std::strchr("-+ #0123456789.*'hlLqjzt", pattern[j])) ++j;
    if (j == body) {
      pattern[i] = '\n';
      pattern[i + 1] = '\0';
      return i + 1;
    }
    i = j + 1;
  }
  return length;
}

}  // namespace

Logger::Logger(const char* name) : Logger(name, ModulePath()) {}

Logger::Logger(const char* name, const std::string& modulePath) {
  (void)logfile::ProcessId();  // the process id is taken with the first logger
  if (name && std::strlen(name) < sizeof name_) std::memcpy(name_, name, std::strlen(name) + 1);
  Configure(modulePath);
}

void Logger::Configure(const std::string& modulePath) {
  if (modulePath.empty()) return;
  const platform::ProfileFile config(ConfigPathFor(modulePath));
  char value[16];
  ReadValue(config, "Default", "OutputDebugString", "", defaultOds_);
  ReadValue(config, name_, "OutputDebugString", defaultOds_, value);
  odsMask_ = ParseMask(value);
  ReadValue(config, "Default", "WriteToLogFile", "", defaultFile_);
  ReadValue(config, name_, "WriteToLogFile", defaultFile_, value);
  fileMask_ = ParseMask(value);
  if (fileMask_) logfile::OpenOnce(modulePath);
}

uint32_t Logger::ParseMask(const char* value) {
  uint32_t mask = 0;
  for (const char* p = value; p && *p; ++p) {
    switch (*p) {
      case 'E': mask |= E; break;
      case 'T': mask |= T; break;
      case 'V': mask |= V; break;
      case 'D': mask |= D; break;
      case 'W': mask |= W; break;
      case 'C': mask |= C; break;
      default: break;
    }
  }
  return mask;
}

void Logger::Emit(Tag tag, const char* line) const {
  if (odsMask_ & tag) platform::DebugOutput(line);
  if (fileMask_ & tag) logfile::Append(line);
}

void Logger::Write(Tag tag, const char* message) const {
  if (!((odsMask_ | fileMask_) & tag)) return;
  char line[kLineSize];
  const int n = std::snprintf(line, sizeof line, "[T%d][%s][%s]%s\n", int(platform::CurrentThreadId()), name_,
                              TagLetter(tag), message ? message : "");
  logfile::FitLine(line, sizeof line, n);
  Emit(tag, line);
}

void Logger::Format(Tag tag, const char* format, ...) const {
  va_list args;
  va_start(args, format);
  FormatV(tag, format, args);
  va_end(args);
}

void Logger::FormatV(Tag tag, const char* format, va_list args) const {
  if (!((odsMask_ | fileMask_) & tag)) return;
  // The line's frame is built around the caller's format first, so the
  // frame and the format together are cut to 255 characters (the newline
  // kept).
  char pattern[kFormatPrefixSize];
  const int n = std::snprintf(pattern, sizeof pattern, "[T%d][%s][%s]%s\n", int(platform::CurrentThreadId()),
                              name_, TagLetter(tag), format ? format : "");
  if (n >= 0 && size_t(n) >= sizeof pattern)
    DropCutConversion(pattern, logfile::FitLine(pattern, sizeof pattern, n));
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  char line[kLineSize];
  const int written = std::vsnprintf(line, sizeof line, pattern, args);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  if (written < 0)  // a conversion the C library refused: the line keeps its frame
    std::snprintf(line, sizeof line, "[T%d][%s][%s]\n", int(platform::CurrentThreadId()), name_, TagLetter(tag));
  else
    logfile::FitLine(line, sizeof line, written);
  Emit(tag, line);
}

const Logger& LibLogger() {
  static const Logger logger("UDRALib");
  return logger;
}

const Logger& WndLogger() {
  static const Logger logger("UDRAWndMsgProcessor");
  return logger;
}

int32_t LogSequence() { return logfile::Sequence(); }

// The library-wide loggers come into being when the module is loaded, so a
// configuration that gives them file letters creates the log file at once.
static const bool kLibraryLoggersReady = (LibLogger(), WndLogger(), true);

}  // namespace udra

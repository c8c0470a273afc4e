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
void ReadValue(const std::string& file, const char* section, const char* key, const char* fallback,
               char (&out)[16]) {
  std::string value;
  if (!platform::ReadProfileString(file, section, key, value, sizeof out)) value = fallback;
  std::snprintf(out, sizeof out, "%s", value.c_str());
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
  const std::string config = ConfigPathFor(modulePath);
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
  std::snprintf(line, sizeof line, "[T%d][%s][%s]%s\n", int(platform::CurrentThreadId()), name_,
                TagLetter(tag), message ? message : "");
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
  // frame and the format together are cut to 255 characters.
  char pattern[kFormatPrefixSize];
  std::snprintf(pattern, sizeof pattern, "[T%d][%s][%s]%s\n", int(platform::CurrentThreadId()), name_,
                TagLetter(tag), format ? format : "");
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  char line[kLineSize];
  std::vsnprintf(line, sizeof line, pattern, args);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
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

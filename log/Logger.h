// Named log channels. Each line carries a tag letter (E error, T trace,
// V verbose, W warning); "LogConfig.ini" beside the module decides per logger
// whether a tag reaches the debugger output, the process's log file, both or
// neither. Callers never check.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

namespace udra {

class Logger {
 public:
  enum Tag : uint32_t { E = 0x01, T = 0x02, V = 0x04, D = 0x08, W = 0x10, C = 0x20 };

  // Reads the logger's masks from "LogConfig.ini" in the folder of the module
  // that holds this code and opens the process's log file on first need.
  explicit Logger(const char* name);
  // The same for a given module path (the host and the tests use this): the
  // configuration and the "Logs" folder are looked for beside `modulePath`,
  // and the log file is named after its file name.
  Logger(const char* name, const std::string& modulePath);

  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Plain message: written unchanged ('%' has no meaning).
  void Write(Tag tag, const char* message) const;
  // printf-style message.
  void Format(Tag tag, const char* format, ...) const
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;
  void FormatV(Tag tag, const char* format, va_list args) const;

  void Error(const char* message) const { Write(E, message); }
  void Trace(const char* message) const { Write(T, message); }
  void Verbose(const char* message) const { Write(V, message); }
  void Warning(const char* message) const { Write(W, message); }

  const char* name() const { return name_; }
  uint32_t odsMask() const { return odsMask_; }
  uint32_t fileMask() const { return fileMask_; }

  // Parses a configuration value into a mask: each of E T V D W C (upper case
  // only) sets its bit, every other character is ignored.
  static uint32_t ParseMask(const char* value);

 private:
  void Configure(const std::string& modulePath);
  void Emit(Tag tag, const char* line) const;

  uint32_t odsMask_ = 0;
  uint32_t fileMask_ = 0;
  char name_[32] = {};
  char defaultOds_[16] = {};
  char defaultFile_[16] = {};
};

// The two library-wide loggers, constructed when the library is loaded.
const Logger& LibLogger();  // "UDRALib"
const Logger& WndLogger();  // "UDRAWndMsgProcessor"

// Number of lines written to the log file so far (LogSeq).
int32_t LogSequence();

}  // namespace udra

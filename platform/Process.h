// Starting a process and watching it end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace udra::platform {

class Process {
 public:
  // Starts the executable `path` without arguments in `workingFolder`
  // (Win32: ShellExecuteExA with SEE_MASK_NOCLOSEPROCESS); null on failure.
  static std::unique_ptr<Process> Launch(const std::string& path, const std::string& workingFolder);

  virtual ~Process() = default;

  // True once the process has ended (within `timeoutMs`).
  virtual bool Wait(uint32_t timeoutMs) = 0;
  virtual bool Terminate() = 0;
  virtual uint32_t id() const = 0;
  // The exit code once ended; -1 before or when unknown.
  virtual int exitCode() const = 0;
};

// Whether any process of this machine with that id still runs (not only
// those started here). A process that has ended but was not yet collected by
// its parent (a zombie) counts as ended.
bool ProcessRunning(int64_t pid);

}  // namespace udra::platform

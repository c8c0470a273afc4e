#include "platform/Process.h"

#include <windows.h>
#include <shellapi.h>

namespace udra::platform {
namespace {

class ShellProcess : public Process {
 public:
  explicit ShellProcess(HANDLE handle) : handle_(handle) {}
  ~ShellProcess() override { CloseHandle(handle_); }

  bool Wait(uint32_t timeoutMs) override { return WaitForSingleObject(handle_, timeoutMs) == WAIT_OBJECT_0; }
  bool Terminate() override { return TerminateProcess(handle_, 1) != 0; }
  uint32_t id() const override { return GetProcessId(handle_); }
  int exitCode() const override {
    DWORD code = 0;
    if (!GetExitCodeProcess(handle_, &code) || code == STILL_ACTIVE) return -1;
    return static_cast<int>(code);
  }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<Process> Process::Launch(const std::string& path, const std::string& workingFolder) {
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof info;
  // SEE_MASK_FLAG_NO_UI: a missing executable must fail, not open an error
  // box that blocks the caller (a host restart runs under the manager's lock).
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpFile = path.c_str();
  info.lpDirectory = workingFolder.empty() ? nullptr : workingFolder.c_str();
  info.nShow = SW_SHOW;
  if (!ShellExecuteExA(&info) || !info.hProcess) return nullptr;
  return std::make_unique<ShellProcess>(info.hProcess);
}

bool ProcessRunning(int64_t pid) {
  if (pid <= 0 || pid > 0xFFFFFFFFll) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;  // it exists, but is not ours to open
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

}  // namespace udra::platform

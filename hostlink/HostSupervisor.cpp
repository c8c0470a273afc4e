#include "hostlink/HostSupervisor.h"

#include "platform/NamedMutex.h"
#include "util/Paths.h"

namespace udra {

bool LaunchUDRAHostAppIn(const std::string& folder, std::unique_ptr<platform::Process>& processOut) {
  processOut = platform::Process::Launch(JoinPath(folder, kHostAppFileName), folder);
  return processOut != nullptr;
}

bool LaunchUDRAHostApp(std::unique_ptr<platform::Process>& processOut) {
  std::string folder;
  if (!ModuleFolder(folder)) return false;
  return LaunchUDRAHostAppIn(folder, processOut);
}

bool IsUDRAHostAliveFor(const std::string& key) {
  return platform::NamedMutex::Exists(key);
}

bool IsUDRAHostAlive() {
  std::string folder;
  if (!ModuleFolder(folder)) return false;
  return IsUDRAHostAliveFor(InstanceKeyOf(folder));
}

void RetireHostProcess(std::unique_ptr<platform::Process>& process, uint32_t graceMs, uint32_t afterKillMs) {
  if (!process) return;
  if (!process->Wait(graceMs)) {
    process->Terminate();
    process->Wait(afterKillMs);
  }
  process.reset();
}

}  // namespace udra

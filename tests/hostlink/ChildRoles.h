// Starting this test executable again as a child that holds a named mutex.
#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/Module.h"
#include "platform/Process.h"
#include "platform/System.h"

namespace udra::hostlinktest {

constexpr const char* kRoleFile = "udra-hostlink-child-role.txt";
constexpr const char* kReadyFile = "udra-hostlink-child-ready.txt";

class MutexHolder {
 public:
  MutexHolder(const std::filesystem::path& folder, const std::string& mutexName) : folder_(folder) {
    std::ofstream(folder_ / kRoleFile) << "hold-mutex " << mutexName << "\n";
    process = platform::Process::Launch(platform::ModulePathOf(reinterpret_cast<const void*>(&ReadyText)),
                                        folder_.string());
  }
  ~MutexHolder() {
    if (process && !process->Wait(0)) {
      process->Terminate();
      process->Wait(5000);
    }
  }

  // What the child reported once it holds the mutex ("held"), or "".
  std::string WaitReady() const {
    for (int i = 0; i < 2000; ++i) {
      const std::string text = ReadyText(folder_);
      if (!text.empty()) return text;
      platform::SleepMs(5);
    }
    return "";
  }

  std::unique_ptr<platform::Process> process;

 private:
  static std::string ReadyText(const std::filesystem::path& folder) {
    std::ifstream in(folder / kReadyFile);
    std::string text;
    in >> text;
    return text;
  }
  std::filesystem::path folder_;
};

}  // namespace udra::hostlinktest

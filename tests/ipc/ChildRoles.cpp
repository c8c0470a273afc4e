// When a test starts this executable again with a role file in the working
// folder, the child plays that role before any test runs: it holds a named
// mutex or serves a pipe until it is killed (at most a minute), or exits
// with a given code.
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "ipc/IpcTestSupport.h"
#include "platform/MessagePipe.h"
#include "platform/NamedMutex.h"
#include "platform/System.h"

namespace udra::ipctest {
namespace {

void Ready(const std::string& text) {
  std::ofstream(kReadyFile) << text;
}

[[noreturn]] void Linger() {
  for (int i = 0; i < 600; ++i) platform::SleepMs(100);
  std::exit(0);
}

struct ChildRole {
  ChildRole() {
    std::ifstream roleFile(kRoleFile);
    if (!roleFile) return;
    std::string role, argument;
    roleFile >> role >> argument;
    if (role == "hold-mutex") {
      auto mutex = platform::NamedMutex::CreateOrOpen(argument, true);
      Ready(mutex ? "held" : "failed");
      Linger();
    }
    if (role == "serve-pipe") {
      auto server = platform::PipeServer::Create(argument);
      Ready(server ? "serving" : "failed");
      Linger();
    }
    if (role == "exit") {
      Ready("exiting");
      std::exit(std::atoi(argument.c_str()));
    }
    std::exit(99);
  }
} g_childRole;

}  // namespace
}  // namespace udra::ipctest

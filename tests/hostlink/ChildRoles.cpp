// When a test starts this executable again with a role file in its working
// folder, the child plays that role before any test runs: it holds a named
// mutex until it is killed (at most a minute).
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "hostlink/ChildRoles.h"
#include "platform/NamedMutex.h"
#include "platform/System.h"

namespace udra::hostlinktest {
namespace {

struct ChildRole {
  ChildRole() {
    std::ifstream roleFile(kRoleFile);
    if (!roleFile) return;
    std::string role, argument;
    roleFile >> role >> argument;
    if (role != "hold-mutex") std::exit(99);
    auto mutex = platform::NamedMutex::CreateOrOpen(argument, true);
    std::ofstream(kReadyFile) << (mutex ? "held" : "failed");
    for (int i = 0; i < 600; ++i) platform::SleepMs(100);
    std::exit(0);
  }
} g_childRole;

}  // namespace
}  // namespace udra::hostlinktest

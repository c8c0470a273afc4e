// Helpers shared by the message, pipe and shared-state tests.
#pragma once

#include "support/Polling.h"

namespace udra::ipctest {

using test::UniqueName;
using test::WaitUntil;

// Files by which a test starts this executable again in a helper role (the
// child finds the role file in its working folder, see ChildRoles.cpp).
constexpr const char* kRoleFile = "udra-ipc-child-role.txt";
constexpr const char* kReadyFile = "udra-ipc-child-ready.txt";

}  // namespace udra::ipctest

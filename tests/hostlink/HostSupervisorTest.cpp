#include "hostlink/HostSupervisor.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>

#include "hostlink/ChildRoles.h"
#include "support/TempDir.h"
#include "util/Paths.h"

namespace udra {
namespace {

namespace fs = std::filesystem;

void WriteScript(const test::TempDir& dir, const std::string& body) {
  dir.Write(kHostAppFileName, "#!/bin/sh\n" + body + "\n");
  fs::permissions(dir / kHostAppFileName, fs::perms::owner_all);
}

bool ProcessGone(uint32_t pid) {
  return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

TEST(HostSupervisor, HostIsAliveExactlyWhileItsInstanceMutexIsHeld) {
  // The instance mutex of this executable's folder, as the host would hold it.
  EXPECT_FALSE(IsUDRAHostAlive());
  test::TempDir dir;
  hostlinktest::MutexHolder host(dir.path(), InstanceKey());
  ASSERT_NE(host.process, nullptr);
  ASSERT_EQ(host.WaitReady(), "held");
  EXPECT_TRUE(IsUDRAHostAlive());
  EXPECT_TRUE(IsUDRAHostAliveFor(InstanceKey()));
  EXPECT_FALSE(IsUDRAHostAliveFor(InstanceKeyOf("/some/other/installation")));

  ASSERT_TRUE(host.process->Terminate());  // SIGKILL: no orderly release
  ASSERT_TRUE(host.process->Wait(5000));
  EXPECT_FALSE(IsUDRAHostAlive());  // a crashed host is never taken for a live one
}

TEST(HostSupervisor, LaunchRunsTheHostInItsFolderWithoutArguments) {
  test::TempDir dir;
  WriteScript(dir, "echo \"$PWD $#\" > started.txt");
  std::unique_ptr<platform::Process> process;
  ASSERT_TRUE(LaunchUDRAHostAppIn(dir.path(), process));
  ASSERT_NE(process, nullptr);
  ASSERT_TRUE(process->Wait(10000));
  EXPECT_EQ(dir.Read("started.txt"), fs::canonical(dir.path()).string() + " 0\n");

  test::TempDir empty;
  EXPECT_FALSE(LaunchUDRAHostAppIn(empty.path(), process));
  EXPECT_EQ(process, nullptr);
}

TEST(HostSupervisor, RetiringWaitsForAHostThatEnds) {
  test::TempDir dir;
  WriteScript(dir, "sleep 0.2");
  std::unique_ptr<platform::Process> process;
  ASSERT_TRUE(LaunchUDRAHostAppIn(dir.path(), process));
  RetireHostProcess(process);
  EXPECT_EQ(process, nullptr);

  RetireHostProcess(process);  // nothing to retire
  EXPECT_EQ(process, nullptr);
}

TEST(HostSupervisor, RetiringTerminatesAHostThatStaysAlive) {
  test::TempDir dir;
  WriteScript(dir, "exec sleep 60");
  std::unique_ptr<platform::Process> process;
  ASSERT_TRUE(LaunchUDRAHostAppIn(dir.path(), process));
  const uint32_t pid = process->id();
  RetireHostProcess(process, 100, 5000);
  EXPECT_EQ(process, nullptr);
  EXPECT_TRUE(ProcessGone(pid));
}

}  // namespace
}  // namespace udra

// Start-up when the host is late or never comes, and a host that shuts down
// while it downloads.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "EndToEndFixture.h"

namespace udra::e2e {
namespace fs = std::filesystem;
namespace {

const std::map<std::string, std::string> kFiles = {{"Data/a.txt", "alpha"}};

// Replaces the host with a script that waits `seconds` and then runs it.
void DelayHost(const EndToEnd& env, int seconds) {
  const fs::path real = env.install() / "UDRAHostApp.real";
  fs::rename(env.install() / "UDRAHostApp.exe", real);
  env.install().Write("UDRAHostApp.exe",
                      "#!/bin/sh\nsleep " + std::to_string(seconds) + "\nexec \"" + real.string() + "\"\n");
  fs::permissions(env.install() / "UDRAHostApp.exe", fs::perms::owner_all, fs::perm_options::add);
}

TEST(HostTimingTest, ALateHostGivesTrueAtOnceAndTheResultLater) {
  EndToEnd env(kFiles, "");
  ASSERT_TRUE(env.ready());
  DelayHost(env, 2);
  tool::GameSession session;
  std::string error;
  ASSERT_TRUE(session.Open(env.install().path(), error)) << error;
  ASSERT_TRUE(session.manager()->Initialize(env.server().Url("").c_str(), 1 << 20));
  EXPECT_EQ(session.initResult(), -1);  // the pipe is not there yet: the outcome comes later
  ASSERT_TRUE(session.PumpUntil([&] { return session.initResult() != -1; }, 30000));
  EXPECT_EQ(session.initResult(), 1);
  EXPECT_TRUE(session.manager()->Uninitialize());
}

TEST(HostTimingTest, AHostThatNeverComesGivesInitResultZero) {
  EndToEnd env(kFiles, "");
  ASSERT_TRUE(env.ready());
  fs::remove(env.install() / "UDRAHostApp.exe");
  tool::GameSession session;
  std::string error;
  ASSERT_TRUE(session.Open(env.install().path(), error)) << error;
  ASSERT_TRUE(session.manager()->Initialize(env.server().Url("").c_str(), 1 << 20));
  // 500 pipe attempts 100 ms apart.
  ASSERT_TRUE(session.PumpUntil([&] { return session.initResult() != -1; }, 90000));
  EXPECT_EQ(session.initResult(), 0);
  // Start-up stopped before the catalogue: nothing can be synced.
  EXPECT_EQ(session.manager()->StartSync("Data/a.txt", session.window(), 0, 0), -1);
  EXPECT_TRUE(session.manager()->Uninitialize());
}

TEST(HostTimingTest, AHostShuttingDownFailsItsDownloadsOnce) {
  EndToEnd env({{"Data/big.bin", hosttest::RandomBytes(4000000, 4)}}, "", "BandwidthLimit=20000\n");
  ASSERT_TRUE(env.ready());
  env.Start();
  IResourceManager* m = env.manager();
  const int32_t id = m->StartSync("Data/big.bin", env.session().window(), 0, 0);
  env.session().PumpUntil([] { return false; }, 500);  // the transfer runs
  const int pid = env.HostPid();
  ASSERT_GT(pid, 0);
  kill(pid, SIGTERM);  // an orderly end answers what it holds
  auto returned = [&] {
    for (int32_t r : env.session().syncReturns())
      if (r == id) return true;
    return false;
  };
  ASSERT_TRUE(env.session().PumpUntil(returned, 20000));
  SyncInfo info{};
  m->GetSyncInfo(id, &info);
  // The host answers kind 3 before it goes; whether that answer or the loss
  // of the pipe reaches the sync first depends on when the game pumps.
  EXPECT_TRUE(info.state == UDRA_SYNC_ERROR_KIND3 || info.state == UDRA_SYNC_FAILED) << info.state;
  size_t notices = 0;
  for (int32_t r : env.session().syncReturns()) notices += r == id;
  EXPECT_EQ(notices, 1u);
}

}  // namespace
}  // namespace udra::e2e

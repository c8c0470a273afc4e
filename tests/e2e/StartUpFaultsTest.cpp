// Start-up and shut-down when parts of the installation are missing or damaged.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "EndToEndFixture.h"
#include "platform/FileSystem.h"

namespace udra::e2e {
namespace {

const std::map<std::string, std::string> kFiles = {{"Data/a.txt", "alpha"}, {"Data/b.txt", "beta"}};

TEST(StartUpFaultsTest, MissingStoreModuleFailsInitialize) {
  EndToEnd env(kFiles, "");
  ASSERT_TRUE(env.ready());
  std::remove((env.install() / "ZAV.dll").c_str());
  tool::GameSession session;
  std::string error;
  ASSERT_TRUE(session.Open(env.install().path(), error)) << error;
  EXPECT_FALSE(session.manager()->Initialize(env.server().Url("").c_str(), 1 << 20));
  EXPECT_FALSE(session.manager()->Initialize(nullptr, 1 << 20));
  EXPECT_TRUE(session.manager()->Uninitialize());  // releases what was reached (the window)
}

// A private runtime folder that another user could enter is refused: the
// start fails at once and says why, and nothing of the installation's pipe,
// locks or memory is made there.
TEST(StartUpFaultsTest, ARuntimeFolderOthersCanEnterFailsTheStartAtOnce) {
  EndToEnd env(kFiles, "");
  ASSERT_TRUE(env.ready());
  test::TempDir runtime;
  ASSERT_TRUE(platform::MakeDirectories(runtime / "udra"));
  std::filesystem::permissions(runtime / "udra", std::filesystem::perms(0755));
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string before = saved ? saved : "";
  setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  tool::GameSession session;
  std::string error;
  ASSERT_TRUE(session.Open(env.install().path(), error)) << error;
  EXPECT_FALSE(session.manager()->Initialize(env.server().Url("").c_str(), 1 << 20));
  EXPECT_TRUE(session.manager()->Uninitialize());
  if (saved)
    setenv("XDG_RUNTIME_DIR", before.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
  EXPECT_TRUE(std::filesystem::is_empty(runtime / "udra"));
  std::string logs;
  for (const auto& entry : std::filesystem::directory_iterator(env.install() / "Logs")) {
    logs += env.install().Read("Logs/" + entry.path().filename().string());
  }
  EXPECT_NE(logs.find(runtime / "udra"), std::string::npos) << "the log names the folder";
}

TEST(StartUpFaultsTest, DamagedStoreIsRebuiltAndSyncsGoOn) {
  EndToEnd env(kFiles, "");
  ASSERT_TRUE(env.ready());
  env.install().Write("UDRADownload/ZAV.db", std::string(8192, 'x'));  // not a database
  env.Start();
  ASSERT_EQ(env.session().initResult(), 1);
  SyncInfo info{};
  ASSERT_TRUE(env.SyncAndWait("Data", info));
  EXPECT_EQ(info.state, UDRA_SYNC_DONE);
  EXPECT_EQ(env.ReadFile("Data/b.txt"), "beta");
}

TEST(StartUpFaultsTest, CancelEndsARunningSyncOnce) {
  EndToEnd env({{"Data/big.bin", hosttest::RandomBytes(400000, 9)}}, "", "BandwidthLimit=20000\n");
  ASSERT_TRUE(env.ready());
  env.Start();
  IResourceManager* m = env.manager();
  const int32_t id = m->StartSync("Data/big.bin", env.session().window(), 0, 0);
  ASSERT_NE(id, -1);
  SyncInfo info{};
  m->GetSyncInfo(id, &info);  // false until the host lists the download: the fields are filled all the same
  EXPECT_EQ(info.state, UDRA_SYNC_RUNNING);
  EXPECT_TRUE(m->SetSyncPriority(id, 5));
  m->CancelSync(id);
  m->GetSyncInfo(id, &info);
  EXPECT_EQ(info.state, UDRA_SYNC_CANCELLED);
  m->CancelSync(id);  // a finished sync: nothing happens
  EXPECT_FALSE(m->SetSyncPriority(id, 6));
  env.session().PumpUntil([] { return false; }, 300);
  size_t notices = 0;
  for (int32_t r : env.session().syncReturns()) notices += r == id;
  EXPECT_EQ(notices, 1u);
}

TEST(StartUpFaultsTest, UninitializeStopsWhenTheUseRecordCannotBeWritten) {
  EndToEnd env(kFiles, "");
  ASSERT_TRUE(env.ready());
  env.Start();
  SyncInfo info{};
  ASSERT_TRUE(env.SyncAndWait("Data/a.txt", info));
  EXPECT_EQ(env.ReadFile("Data/a.txt"), "alpha");  // the use record has something to save
  ASSERT_TRUE(platform::MakeDirectories(env.install() / "UDRADownload/ResUseRec.db"));  // a folder in the way
  EXPECT_FALSE(env.manager()->Uninitialize());
  // The store is still open: files still read.
  EXPECT_EQ(env.ReadFile("Data/a.txt"), "alpha");
  std::filesystem::remove(env.install() / "UDRADownload/ResUseRec.db");
  EXPECT_TRUE(env.manager()->Uninitialize());
}

}  // namespace
}  // namespace udra::e2e

// The system as a game uses it: syncs through the real host from a real HTTP
// server, notifications, the files read back, host loss and shut-down.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <thread>

#include "EndToEndFixture.h"
#include "platform/FileSystem.h"

namespace udra::e2e {
namespace {

const std::map<std::string, std::string>& Content() {
  static const std::map<std::string, std::string> files = {
      {"Data/a.txt", "alpha\n"},
      {"Data/b.bin", hosttest::RandomBytes(300000, 1)},
      {"Data/Pack/x.txt", "x member"},
      {"Data/Pack/y.bin", hosttest::RandomBytes(40000, 2)},
      {"Data/Pack/z.txt", "zed"},
      {"Maps/m.map", hosttest::RandomBytes(5000, 3)},
      {"Maps/gone.map", "removed from the server"},
      {"Maps/changed.map", "the server will hold other bytes"},
  };
  return files;
}

class EndToEndTest : public ::testing::Test {
 protected:
  virtual std::string HostIni() const { return ""; }
  void SetUp() override {
    env = std::make_unique<EndToEnd>(Content(), "Data/Pack", HostIni());
    ASSERT_TRUE(env->ready());
    env->Start();
    ASSERT_EQ(env->session().initResult(), 1);
  }
  std::unique_ptr<EndToEnd> env;
};

TEST_F(EndToEndTest, FolderWithPackageSyncsAndReadsBack) {
  SyncInfo info{};
  ASSERT_TRUE(env->SyncAndWait("Data", info));
  EXPECT_EQ(info.state, UDRA_SYNC_DONE);
  EXPECT_STREQ(info.name, "Data");
  EXPECT_GT(info.totalSize, 300000);
  EXPECT_EQ(info.doneSize, info.totalSize);
  for (const char* file : {"Data/a.txt", "Data/b.bin", "Data/Pack/x.txt", "Data/Pack/y.bin", "Data/Pack/z.txt"})
    EXPECT_EQ(env->ReadFile(file), Content().at(file)) << file;
  EXPECT_TRUE(env->manager()->ExtractFile("Data/Pack/y.bin"));
  EXPECT_EQ(env->install().Read("UDRADownload/Data/Pack/y.bin"), Content().at("Data/Pack/y.bin"));

  // A file already present: done at once, without the host.
  ASSERT_TRUE(env->SyncAndWait("Data\\a.txt", info, 2000));
  EXPECT_EQ(info.state, UDRA_SYNC_DONE);
}

TEST_F(EndToEndTest, FailuresMapToTheirStates) {
  std::remove((env->server().root() + "/v1/Maps/gone.map").c_str());
  std::ofstream(env->server().root() + "/v1/Maps/changed.map", std::ios::binary) << "different bytes entirely";
  SyncInfo info{};
  ASSERT_TRUE(env->SyncAndWait("Maps/gone.map", info));
  EXPECT_EQ(info.state, UDRA_SYNC_ERROR_CODE22);  // the server answered 404
  ASSERT_TRUE(env->SyncAndWait("Maps/changed.map", info));
  EXPECT_EQ(info.state, UDRA_SYNC_ERROR_KIND1);  // size and digest do not match
  EXPECT_EQ(env->manager()->OpenFile("Maps/changed.map", "r"), -1);
  EXPECT_EQ(env->manager()->StartSync("Maps/not-catalogued.map", nullptr, 0, 0), -1);
  // The other files are unaffected.
  ASSERT_TRUE(env->SyncAndWait("Maps/m.map", info));
  EXPECT_EQ(info.state, UDRA_SYNC_DONE);
  EXPECT_EQ(env->ReadFile("Maps/m.map"), Content().at("Maps/m.map"));
}

// Downloads slow enough to be killed in the middle of.
class HostLossTest : public EndToEndTest {
 protected:
  std::string HostIni() const override { return "BandwidthLimit=20000\n"; }
};

TEST_F(HostLossTest, RunningSyncsFailAndANewHostServesLaterOnes) {
  IResourceManager* m = env->manager();
  SyncInfo info{};
  ASSERT_TRUE(env->SyncAndWait("Data/a.txt", info));
  const int32_t finished = m->StartSync("Data/a.txt", env->session().window(), 0, 0);
  const int32_t first = m->StartSync("Data/b.bin", env->session().window(), 0, 0);  // 300 KB at 20 KB/s
  const int32_t second = m->StartSync("Data/Pack", env->session().window(), 0, 0);
  auto returned = [&](int32_t id) {
    for (int32_t r : env->session().syncReturns())
      if (r == id) return true;
    return false;
  };
  ASSERT_TRUE(env->session().PumpUntil([&] { return returned(finished); }, 5000));
  const int pid = env->HostPid();
  ASSERT_GT(pid, 0);
  kill(pid, SIGKILL);
  ASSERT_TRUE(env->session().PumpUntil([&] { return returned(first) && returned(second); }, 30000));
  SyncInfo a{}, b{}, done{};
  m->GetSyncInfo(first, &a);
  m->GetSyncInfo(second, &b);
  m->GetSyncInfo(finished, &done);
  EXPECT_EQ(a.state, UDRA_SYNC_FAILED);
  EXPECT_EQ(b.state, UDRA_SYNC_FAILED);
  EXPECT_EQ(done.state, UDRA_SYNC_DONE);
  size_t notices = 0;
  for (int32_t r : env->session().syncReturns()) notices += r == first || r == second;
  EXPECT_EQ(notices, 2u);  // one WM_SYNC_RETURN each

  // The recovery launched a new host, which serves later syncs (and resumes nothing lost).
  ASSERT_TRUE(env->SyncAndWait("Maps/m.map", info));
  EXPECT_EQ(info.state, UDRA_SYNC_DONE);
  EXPECT_NE(env->HostPid(), pid);
  EXPECT_EQ(env->ReadFile("Maps/m.map"), Content().at("Maps/m.map"));
}

TEST_F(EndToEndTest, StartUpAndShutDown) {
  IResourceManager* m = env->manager();
  EXPECT_FALSE(m->Initialize("http://127.0.0.1/", 1000));  // a second Initialize is refused
  EXPECT_GE(m->GetHostValue2(), 0);
  EXPECT_TRUE(m->SetUin("12345"));
  EXPECT_TRUE(m->SendHostFlag(0x100));
  SyncInfo info{};
  ASSERT_TRUE(env->SyncAndWait("Maps/m.map", info));
  const int32_t handle = m->OpenFile("Maps/m.map", "r");
  ASSERT_NE(handle, -1);
  m->CloseFile(handle);
  ASSERT_TRUE(env->session().Shutdown());
  EXPECT_NE(env->install().Read("UDRADownload/ResUseRec.db").find("Maps\\m.map|1|"), std::string::npos);
  EXPECT_NE(env->install().Read("UDRAStats.txt").find("Maps\\m.map"), std::string::npos);
}

}  // namespace
}  // namespace udra::e2e

// The library against games that shut down badly, race its shut-down, or
// hand it paths and names that could hurt the store.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "EndToEndFixture.h"
#include "platform/FileSystem.h"

namespace udra::e2e {
namespace {

namespace fs = std::filesystem;

const std::map<std::string, std::string> kFiles = {{"Data/a.txt", "alpha"}, {"Data/b.txt", "beta"}};

// How often `text` occurs in the installation's log files.
size_t CountInLogs(const EndToEnd& env, const std::string& text) {
  size_t count = 0;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(env.install() / "Logs", ignored)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    const std::string log = bytes.str();
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
  }
  return count;
}

// A failed save (here a folder where the use record goes, as a full disk
// would) leaves the store for a later Uninitialize, but the timers stop: the
// pipe is closed, so each tick would only log "SendMsg Error!". The game then
// releases the manager without a successful Uninitialize.
TEST(HardeningTest, FailedUninitializeStopsTheTimersAndTheReleaseIsSafe) {
  EndToEnd env(kFiles, "");
  ASSERT_TRUE(env.ready());
  env.Start();
  ASSERT_EQ(env.session().initResult(), 1);
  SyncInfo info{};
  ASSERT_TRUE(env.SyncAndWait("Data/a.txt", info));
  EXPECT_EQ(env.ReadFile("Data/a.txt"), "alpha");
  ASSERT_TRUE(platform::MakeDirectories(env.install() / "UDRADownload/ResUseRec.db"));
  EXPECT_FALSE(env.manager()->Uninitialize());
  const size_t errors = CountInLogs(env, "SendMsg Error!");
  env.session().PumpUntil([] { return false; }, 2500);
  EXPECT_EQ(CountInLogs(env, "SendMsg Error!"), errors);
  EXPECT_EQ(env.ReadFile("Data/a.txt"), "alpha");  // the store stays until a later Uninitialize
  // ~EndToEnd: Uninitialize fails again, then the release and the unload of
  // the library, with the hidden window still in place before the fix.
}

// Lookups and syncs from another thread while the game's thread shuts the
// manager down: they find the catalogue and the store whole or gone.
TEST(HardeningTest, LookupsRacingUninitializeFindEverythingWholeOrGone) {
  EndToEnd env(kFiles, "");
  ASSERT_TRUE(env.ready());
  env.Start();
  ASSERT_EQ(env.session().initResult(), 1);
  SyncInfo info{};
  ASSERT_TRUE(env.SyncAndWait("Data", info));
  IResourceManager* m = env.manager();
  const udra_hwnd window = env.session().window();
  std::atomic<bool> stop{false};
  std::atomic<int> found{0};
  std::thread reader([&] {
    for (int i = 0; !stop; ++i) {
      if (m->IsFileInArchive("Data/a.txt")) ++found;
      if (i % 64 == 0) {
        m->StartSync("Data/b.txt", window, 0, 0);
        int32_t size = 0;
        m->QueryFileSize("Data/b.txt", &size);
        m->RefreshShareState();
      }
    }
  });
  while (found < 100) std::this_thread::yield();
  EXPECT_TRUE(env.session().Shutdown());
  stop = true;
  reader.join();
  EXPECT_FALSE(m->IsFileInArchive("Data/a.txt"));
  EXPECT_EQ(m->StartSync("Data/a.txt", window, 0, 0), -1);
}

// A stored entry emptied (say by a crash of an older store) for a file the
// catalogue says has bytes: the read fails instead of reporting an end that
// never comes, and the entry is dropped so that the next sync fetches it.
TEST(HardeningTest, EmptiedEntryFailsItsReadAndIsFetchedAgain) {
  EndToEnd env(kFiles, "");
  ASSERT_TRUE(env.ready());
  env.Start();
  SyncInfo info{};
  ASSERT_TRUE(env.SyncAndWait("Data", info));
  env.session().Shutdown();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((env.install() / "UDRADownload/ZAV.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "UPDATE entries SET data = x'', size = 0 WHERE name = 'Data\\a.txt'", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  EXPECT_EQ(sqlite3_changes(db), 1);
  sqlite3_close(db);
  env.Restart();
  ASSERT_EQ(env.session().initResult(), 1);
  EXPECT_EQ(env.ReadFile("Data/a.txt"), "<read failed>");
  EXPECT_FALSE(env.manager()->IsFileInArchive("Data/a.txt"));
  ASSERT_TRUE(env.SyncAndWait("Data/a.txt", info));
  EXPECT_EQ(info.state, UDRA_SYNC_DONE);
  EXPECT_EQ(env.ReadFile("Data/a.txt"), "alpha");
}

// Catalogued names that are the store's own files are never extracted over
// them; the paths every lookup accepts are accepted by ExtractFile too.
TEST(HardeningTest, ExtractFileNeverReplacesTheStoresFiles) {
  const std::map<std::string, std::string> files = {
      {"Data/a.txt", "alpha"},     {"ZAV.db", "not a database"}, {"zav.DB-wal", "w"},
      {"ResUseRec.db", "r"},       {"ZAV.files/1", "big?"},      {"HostTemp/x.part", "p"},
      {"ZAV.db./x", "dot"},        {"RESUSE~1.DB", "short"}};
  EndToEnd env(files, "");
  ASSERT_TRUE(env.ready());
  env.Start();
  SyncInfo info{};
  for (const auto& [name, bytes] : files) ASSERT_TRUE(env.SyncAndWait(name, info)) << name;
  IResourceManager* m = env.manager();
  for (const auto& [name, bytes] : files) {
    if (name == "Data/a.txt") continue;
    EXPECT_TRUE(m->IsFileInArchive(name.c_str())) << name;
    EXPECT_FALSE(m->ExtractFile(name.c_str())) << name;
  }
  EXPECT_FALSE(m->ExtractFile("zav.db"));
  EXPECT_TRUE(m->ExtractFile("\\Data\\a.txt"));
  EXPECT_TRUE(m->ExtractFile("/Data/a.txt"));
  std::string written;
  ASSERT_TRUE(platform::ReadWholeFile(env.install() / "UDRADownload/Data/a.txt", written));
  EXPECT_EQ(written, "alpha");
  EXPECT_FALSE(m->ExtractFile(("Data/a.txt" + std::string(250, ' ') + "x").c_str()));  // cut: names nothing

  // The store is intact: a new start finds every entry.
  env.Restart();
  ASSERT_EQ(env.session().initResult(), 1);
  for (const auto& [name, bytes] : files) EXPECT_EQ(env.ReadFile(name), bytes) << name;
}

}  // namespace
}  // namespace udra::e2e

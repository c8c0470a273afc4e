#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <sstream>

#include "core/StatsFacade.h"
#include "resources/Syncs.h"
#include "support/TempDir.h"
#include "syncs/SyncsFixture.h"

namespace udra {
namespace {

// The component copied into a folder of its own, so its summary file lands
// there.
class StatsFacadeTest : public ::testing::Test {
 protected:
  StatsFacadeTest() {
    std::filesystem::copy_file(std::string(UDRA_STAGE_DIR) + "/UDRAStats.dll", dir / "UDRAStats.dll");
  }
  std::string Summary() const { return dir.Read("UDRAStats.txt"); }
  // The summary line of `name`, or "" when it has none.
  std::string Line(const std::string& name) const {
    std::istringstream in(Summary());
    for (std::string line; std::getline(in, line);) {
      if (line.compare(0, name.size() + 1, name + "\t") == 0) return line;
    }
    return "";
  }

  test::TempDir dir;
  StatsFacade stats;
};

TEST_F(StatsFacadeTest, EachSlotReachesItsOperation) {
  ASSERT_TRUE(stats.Load(dir.path()));
  EXPECT_TRUE(stats.present());
  EXPECT_FALSE(stats.Load(dir.path()));  // nothing is loaded twice
  stats.SetHostValue2(-22);
  stats.SetHostValue1(11);
  stats.FileRequested("a.pak", 300, 1);
  stats.FileRequested("a.pak", 300, 1);
  stats.FileDone("a.pak", 290, 1500, 1);
  stats.FileFailed("b.pak", 0, 0x00030005u, "host said\tno ID: 4", 1);
  stats.FileCancelled("c.pak", 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "UDRAStats.txt"));  // written when stopped
  stats.Unload();
  EXPECT_FALSE(stats.present());

  EXPECT_NE(Summary().find("HostValue1\t11\nHostValue2\t-22\n"), std::string::npos) << Summary();
  EXPECT_EQ(Line("Totals"), "Totals\t2\t1\t1\t1\t600\t290\t1500");
  EXPECT_EQ(Line("Files"), "Files\t3");
  EXPECT_EQ(Line("a.pak"), "a.pak\t2\t1\t0\t0\t600\t290\t1500\t0x00000000\t");
  EXPECT_EQ(Line("b.pak"), "b.pak\t0\t0\t1\t0\t0\t0\t0\t0x00030005\thost said?no ID: 4");
  EXPECT_EQ(Line("c.pak"), "c.pak\t0\t0\t0\t1\t0\t0\t0\t0x00000000\t");
  stats.Unload();  // again: nothing left to do
}

TEST_F(StatsFacadeTest, AbsentComponentMakesEveryCallANoOp) {
  test::TempDir empty;
  EXPECT_FALSE(stats.Load(empty.path()));
  EXPECT_FALSE(stats.present());
  stats.SetHostValue1(1);
  stats.FileRequested("a", 1, 1);
  stats.FileFailed("a", 1, 1, "x", 1);
  stats.Unload();
  EXPECT_FALSE(std::filesystem::exists(empty / "UDRAStats.txt"));
}

// The figures the sync operations hand over, end to end.
TEST_F(StatsFacadeTest, SyncEventsAreCounted) {
  ASSERT_TRUE(stats.Load(dir.path()));
  FileList files;
  ASSERT_TRUE(files.LoadFromBuffer(
      "A\\x.txt|1|100|00000000000000000000000000000000|11111111111111111111111111111111|s\n"
      "A\\y.txt|1|200|00000000000000000000000000000000|22222222222222222222222222222222|s\n"
      "A\\z.txt|1|300|00000000000000000000000000000000|33333333333333333333333333333333|s\n"));
  std::recursive_mutex lock;
  UseRecord useRecord([] { return int64_t(1); });
  test::FakeManager manager(files);  // nothing is in the archive
  Logger log("SyncsToStats", dir / "rm.dll");
  uint32_t tick = 100;
  SyncLinks links;
  links.send = [](const PipeMsg&) { return true; };
  links.stats = [this] { return &stats; };
  links.urlRoot = [] { return std::string(); };
  links.post = [](platform::WindowHandle, uint32_t, uintptr_t, intptr_t) { return true; };
  links.tick = [&tick] { return tick; };
  Syncs syncs(lock, files, useRecord, manager, log, std::move(links));

  const int32_t x = syncs.StartSync("A\\x.txt", nullptr, 1, 0);
  const int32_t y = syncs.StartSync("A\\y.txt", nullptr, 1, 0);
  const int32_t z = syncs.StartSync("A\\z.txt", nullptr, 1, 0);
  tick = 350;
  syncs.OnSyncReturn(MakeSyncReturn(x, "A\\x.txt", 99, true, 0, 0, ""));
  syncs.OnSyncReturn(MakeSyncReturn(y, "A\\y.txt", 5, false, 22, 1, "HTTP 404"));
  syncs.CancelSync(z);
  stats.Unload();

  EXPECT_EQ(Line("A\\x.txt"), "A\\x.txt\t1\t1\t0\t0\t100\t99\t250\t0x00000000\t");
  EXPECT_EQ(Line("A\\y.txt"),
            "A\\y.txt\t1\t0\t1\t0\t200\t0\t0\t0x00010016\tHTTP 404 ID: " + std::to_string(y));
  EXPECT_EQ(Line("A\\z.txt"), "A\\z.txt\t1\t0\t0\t1\t300\t0\t0\t0x00000000\t");
}

}  // namespace
}  // namespace udra

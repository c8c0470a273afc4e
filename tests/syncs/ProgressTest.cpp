// Folder progress is kept between calls; these tests hold its figures to a
// fresh computation over the store and the table at every step.
#include <algorithm>
#include <set>

#include "SyncsFixture.h"

namespace udra::test {
namespace {

class ProgressTest : public SyncsTest {
 protected:
  // The figure computed from scratch: distinct download names below Data in
  // byte order, each the stored size when the store holds it, else the
  // table's count; the sum stops at the first name known to neither.
  std::pair<bool, int32_t> Fresh() {
    std::vector<std::string> keys;
    files.filesBelow("Data", keys);
    std::set<std::string> names;
    for (const std::string& key : keys) {
      const std::string package = files.packageName(key);
      names.insert(package.empty() ? key : package);
    }
    uint32_t sum = 0;
    for (const std::string& name : names) {
      int32_t bytes = 0;
      if (stored.count(name)) {
        bytes = stored[name];
        if (bytes == -1) return {false, int32_t(sum)};
      } else if (done.count(name)) {
        bytes = done[name];
      } else {
        return {false, int32_t(sum)};
      }
      sum += uint32_t(bytes);
    }
    return {true, int32_t(sum)};
  }

  void ExpectFresh(int32_t id, const char* step) {
    SyncInfo info;
    std::memset(&info, 0x5A, sizeof info);
    const bool result = syncs->GetSyncInfo(id, &info);
    const auto expected = Fresh();
    EXPECT_EQ(result, expected.first) << step;
    EXPECT_EQ(info.doneSize, expected.second) << step;
  }

  // The host finished a download: the store holds it, the table lets it go.
  void Finish(int32_t id, const std::string& name, int32_t size, bool complete = true) {
    stored[name] = size;
    done.erase(name);
    if (complete) Complete(id, name, true);
  }
};

TEST_F(ProgressTest, FiguresFollowDownloadsAndCompletions) {
  manager.present = {"Data\\a.txt"};
  stored = {{"Data\\a.txt", 100}};
  const int32_t id = syncs->StartSync("Data", nullptr, 1, 0);
  ExpectFresh(id, "nothing started");  // pkg.pak and Data\e.txt are known nowhere
  done["pkg.pak"] = 0;
  ExpectFresh(id, "one started");
  done["Data\\e.txt"] = 10;
  ExpectFresh(id, "both started");
  done["pkg.pak"] = 120;
  done["Data\\e.txt"] = 250;
  ExpectFresh(id, "both progressed");
  Finish(id, "pkg.pak", 200, false);  // in the store before its completion is read
  ExpectFresh(id, "stored, completion pending");
  Complete(id, "pkg.pak", true);
  ExpectFresh(id, "completed");
  done["Data\\e.txt"] = 300;
  ExpectFresh(id, "last one progressed");
  Finish(id, "Data\\e.txt", 300);
  ExpectFresh(id, "all done");
  EXPECT_EQ(State(id), UDRA_SYNC_DONE);

  // A completion (of another sync) that replaced a stored entry is seen.
  stored["Data\\a.txt"] = 90;
  Complete(-1, "Data\\a.txt", true);
  ExpectFresh(id, "entry replaced");
  // A store that cannot tell an entry's size leaves the figure incomplete.
  stored["pkg.pak"] = -1;
  Complete(-1, "pkg.pak", true);
  ExpectFresh(id, "size unknown");
}

TEST_F(ProgressTest, PollsAskTheStoreOnlyAboutChanges) {
  manager.present = {"Data\\a.txt", "pkg.pak"};
  stored = {{"Data\\a.txt", 100}, {"pkg.pak", 200}};
  const int32_t id = syncs->StartSync("Data", nullptr, 1, 0);
  done["Data\\e.txt"] = 5;
  ExpectFresh(id, "first poll");
  const int asked = storeQueries;
  for (int i = 0; i < 10; ++i) {
    done["Data\\e.txt"] += 10;
    ExpectFresh(id, "polling");
  }
  EXPECT_EQ(storeQueries, asked);  // the two stored names were asked once
  Finish(id, "Data\\e.txt", 300);
  ExpectFresh(id, "done");
  const int afterDone = storeQueries;
  const int tableBefore = tableQueries;
  for (int i = 0; i < 10; ++i) ExpectFresh(id, "polling a finished sync");
  EXPECT_EQ(storeQueries, afterDone);
  EXPECT_EQ(tableQueries, tableBefore);  // every name settled in the store
}

TEST_F(ProgressTest, ANewCatalogueListsTheNamesAgain) {
  stored = {{"Data\\a.txt", 1}, {"pkg.pak", 2}, {"Data\\e.txt", 3}, {"Data\\f.txt", 4}};
  const int32_t id = syncs->StartSync("Data", nullptr, 1, 0);
  ExpectFresh(id, "old catalogue");
  ASSERT_TRUE(files.LoadFromBuffer(std::string(kCatalogue) + "Data\\f.txt|1|4|x|y|srv\n"));
  ExpectFresh(id, "new catalogue");
  SyncInfo info;
  EXPECT_TRUE(syncs->GetSyncInfo(id, &info));
  EXPECT_EQ(info.doneSize, 10);
}

TEST_F(ProgressTest, ManyFolderSyncsKeepBoundedState) {
  stored = {{"Data\\a.txt", 1}, {"pkg.pak", 2}};
  done = {{"Data\\e.txt", 3}};
  std::vector<int32_t> ids;
  for (size_t i = 0; i < SyncProgress::kKeptFolders + 20; ++i) ids.push_back(syncs->StartSync("Data", nullptr, 1, 0));
  for (int round = 0; round < 2; ++round) {
    for (int32_t id : ids) {
      SyncInfo info;
      EXPECT_TRUE(syncs->GetSyncInfo(id, &info));
      EXPECT_EQ(info.doneSize, 6);
    }
  }
  done["Data\\e.txt"] = 30;
  SyncInfo info;
  EXPECT_TRUE(syncs->GetSyncInfo(ids.front(), &info));  // dropped from the kept ones, listed again
  EXPECT_EQ(info.doneSize, 33);
}

}  // namespace
}  // namespace udra::test

#include "SyncsFixture.h"

namespace udra::test {
namespace {

TEST_F(SyncsTest, LastSuccessEndsTheSyncAndPostsToALiveWindow) {
  alive = {Wnd(5)};
  const int32_t id = syncs->StartSync("Data", Wnd(5), 1, 0);
  Complete(id, "pkg.pak", true);
  Complete(id, "Data\\a.txt", true);
  EXPECT_EQ(State(id), UDRA_SYNC_RUNNING);
  EXPECT_TRUE(posts.empty());
  Complete(id, "Data\\e.txt", true);
  EXPECT_EQ(State(id), UDRA_SYNC_DONE);
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].wParam, uintptr_t(id));
  Complete(id, "Data\\e.txt", true);  // a repeat only logs
  EXPECT_EQ(posts.size(), 1u);

  const std::string n = std::to_string(id);
  EXPECT_TRUE(Logged("T]OnSyncReturn " + n + ", pkg.pak, errcode=0"));
  EXPECT_TRUE(Logged("T]Not PostMessage WM_SYNC_RETURN " + n + ", pkg.pak state=1 because [PART]"));
  EXPECT_TRUE(Logged("T]PostMessage WM_SYNC_RETURN " + n + ", Data\\e.txt"));
  EXPECT_TRUE(Logged("T]Not PostMessage WM_SYNC_RETURN " + n + ", Data\\e.txt state=2"));
}

TEST_F(SyncsTest, DeadWindowGetsNothingButTheSyncEnds) {
  const int32_t id = syncs->StartSync("Single.txt", Wnd(6), 1, 0);
  Complete(id, "Single.txt", true);
  EXPECT_EQ(State(id), UDRA_SYNC_DONE);
  EXPECT_TRUE(posts.empty());
}

TEST_F(SyncsTest, UntiedCompletionGoesToTheLowestSyncWaitingForTheName) {
  alive = {Wnd(5)};
  manager.present = {"Single.txt"};
  const int32_t finished = syncs->StartSync("Single.txt", Wnd(5), 1, 0);  // done, keeps its name pending
  manager.present.clear();
  const int32_t running = syncs->StartSync("Single.txt", Wnd(5), 1, 0);
  posts.clear();
  Complete(-1, "Single.txt", true);
  SyncRecord record;
  ASSERT_TRUE(syncs->Find(finished, record));
  EXPECT_TRUE(record.pending.empty());
  EXPECT_EQ(State(running), UDRA_SYNC_RUNNING);
  EXPECT_TRUE(posts.empty());
  EXPECT_TRUE(Logged("T]Not PostMessage WM_SYNC_RETURN -1, Single.txt state=2"));

  Complete(-1, "Single.txt", true);
  EXPECT_EQ(State(running), UDRA_SYNC_DONE);
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].wParam, uintptr_t(running));
  EXPECT_TRUE(Logged("T]PostMessage WM_SYNC_RETURN -1, Single.txt"));

  Complete(-1, "Single.txt", true);  // nobody waits any more: ignored
  Complete(running + 1000, "Single.txt", false);
  EXPECT_TRUE(syncs->FailedFiles().empty());
}

TEST_F(SyncsTest, FailureStates) {
  EXPECT_EQ(FailureState(22, 1), UDRA_SYNC_ERROR_CODE22);
  EXPECT_EQ(FailureState(22, 7), UDRA_SYNC_ERROR_CODE22);
  EXPECT_EQ(FailureState(5, 0), UDRA_SYNC_FAILED);
  EXPECT_EQ(FailureState(5, 1), UDRA_SYNC_ERROR_KIND1);
  EXPECT_EQ(FailureState(5, 2), UDRA_SYNC_ERROR_KIND2);
  EXPECT_EQ(FailureState(5, 3), UDRA_SYNC_ERROR_KIND3);
  EXPECT_EQ(FailureState(0, 7), UDRA_SYNC_ERROR_OTHER);
}

TEST_F(SyncsTest, AFailureEndsTheWholeSync) {
  alive = {Wnd(5)};
  const int32_t id = syncs->StartSync("Data", Wnd(5), 1, 0);
  Complete(id, "pkg.pak", false, 5, 3);
  SyncRecord record;
  ASSERT_TRUE(syncs->Find(id, record));
  EXPECT_EQ(record.state, UDRA_SYNC_ERROR_KIND3);
  EXPECT_TRUE(record.pending.empty());
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(sent.size(), 3u);  // no cancel for the other names
  const std::string n = std::to_string(id);
  EXPECT_TRUE(Logged("T]OnSyncReturn " + n + ", pkg.pak, errcode=196613"));  // kind 3 high, code 5 low
  EXPECT_TRUE(Logged("E]WM_SYNC_RETURN ID=" + n + " return error code = 11"));

  Complete(id, "Data\\a.txt", false, 22, 0);  // later results only log
  Complete(id, "Data\\e.txt", true);
  EXPECT_EQ(State(id), UDRA_SYNC_ERROR_KIND3);
  EXPECT_EQ(posts.size(), 1u);
  EXPECT_TRUE(Logged("E]Not PostMessage WM_SYNC_RETURN error " + n + ", Data\\a.txt state=11"));
  EXPECT_EQ(syncs->FailedFiles(), (std::set<std::string>{"Data\\a.txt", "pkg.pak"}));
}

TEST_F(SyncsTest, TheFailureThatEndedASyncIsKeptForItsReader) {
  const int32_t id = syncs->StartSync("Data", nullptr, 1, 0);
  SyncRecord record;
  ASSERT_TRUE(syncs->Find(id, record));
  EXPECT_TRUE(record.errorText.empty());
  Complete(id, "pkg.pak", false, 22, 0);
  Complete(id, "Data\\a.txt", false, 28, 0);  // after the end: does not replace the first
  ASSERT_TRUE(syncs->Find(id, record));
  EXPECT_EQ(record.failedName, "pkg.pak");
  EXPECT_EQ(record.errCode, 22);
  EXPECT_EQ(record.errKind, 0);
  EXPECT_EQ(record.errorText, "boom");

  const int32_t lost = syncs->StartSync("Data", nullptr, 1, 0);
  syncs->OnHostLost();
  ASSERT_TRUE(syncs->Find(lost, record));
  EXPECT_NE(record.errorText.find("host ended"), std::string::npos);
}

TEST_F(SyncsTest, FailedNamesStopAtAHundred) {
  const int32_t id = syncs->StartSync("Single.txt", nullptr, 1, 0);
  for (int i = 0; i < 150; ++i) Complete(id, "f" + std::to_string(i), false, 22, 0);
  Complete(id, "f0", false);
  EXPECT_EQ(syncs->FailedFiles().size(), Syncs::kFailedFilesLimit);
  EXPECT_EQ(syncs->FailedFiles().count("f99"), 1u);
  EXPECT_EQ(syncs->FailedFiles().count("f100"), 0u);
  EXPECT_EQ(State(id), UDRA_SYNC_ERROR_CODE22);
  syncs->ClearFailedFiles();
  EXPECT_TRUE(syncs->FailedFiles().empty());
}

TEST_F(SyncsTest, HostLossFailsOnlyRunningSyncs) {
  alive = {Wnd(5)};
  const int32_t a = syncs->StartSync("Data", Wnd(5), 1, 0);
  const int32_t b = syncs->StartSync("Single.txt", Wnd(6), 1, 0);  // window gone
  manager.present = {"Single.txt"};
  const int32_t c = syncs->StartSync("Single.txt", Wnd(5), 1, 0);
  posts.clear();
  syncs->OnHostLost();
  EXPECT_EQ(State(a), UDRA_SYNC_FAILED);
  EXPECT_EQ(State(b), UDRA_SYNC_FAILED);
  EXPECT_EQ(State(c), UDRA_SYNC_DONE);
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].wParam, uintptr_t(a));
  EXPECT_TRUE(Logged("T]WM_SYNC_RETURN ID=" + std::to_string(a) + " return error"));
  SyncRecord record;
  ASSERT_TRUE(syncs->Find(a, record));
  EXPECT_TRUE(record.pending.empty());
}

}  // namespace
}  // namespace udra::test

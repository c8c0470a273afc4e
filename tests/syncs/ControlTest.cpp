#include "SyncsFixture.h"

namespace udra::test {
namespace {

TEST_F(SyncsTest, CancelSendsOneRecordPerPendingName) {
  const int32_t id = syncs->StartSync("Data", Wnd(7), 1, 0);  // not alive: posted anyway
  sent.clear();
  syncs->CancelSync(id);
  ASSERT_EQ(sent.size(), 3u);
  const UrlFields first = ReadUrlRecord(sent[0]);
  EXPECT_EQ(PipeMsgCmd(sent[0]), CMD_CANCEL_FILE);
  EXPECT_EQ(PipeMsgLen(sent[0]), 522);
  EXPECT_EQ(first.value, id);
  const std::string url = files.EncodedUrl("http://127.0.0.1/root", "Data\\a.txt");
  EXPECT_EQ(first.url, url);
  EXPECT_EQ(ReadUrlRecord(sent[2]).url, files.EncodedUrl("http://127.0.0.1/root", "Data\\b.txt"));
  EXPECT_EQ(State(id), UDRA_SYNC_CANCELLED);
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].window, Wnd(7));
  EXPECT_TRUE(Logged("T]CancelSync rawurl=Data\\a.txt encodeurl=" + url));

  syncs->CancelSync(id);  // finished: nothing more
  syncs->CancelSync(id + 1000);
  EXPECT_EQ(sent.size(), 3u);
  EXPECT_EQ(posts.size(), 1u);
}

TEST_F(SyncsTest, CancelWithoutWindowPostsNothing) {
  const int32_t id = syncs->StartSync("Single.txt", nullptr, 1, 0);
  syncs->CancelSync(id);
  EXPECT_EQ(State(id), UDRA_SYNC_CANCELLED);
  EXPECT_TRUE(posts.empty());
}

TEST_F(SyncsTest, PriorityChanges) {
  const int32_t id = syncs->StartSync("Data", nullptr, 4, 0);
  sent.clear();
  EXPECT_TRUE(syncs->SetSyncPriority(id, 4));  // unchanged: nothing sent
  EXPECT_TRUE(sent.empty());
  EXPECT_TRUE(syncs->SetSyncPriority(id, 9));
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(PipeMsgCmd(sent[1]), CMD_SET_PRIORITY);
  EXPECT_EQ(ReadUrlRecord(sent[1]).value, 9);

  sendResult = false;  // stops at the first dropped record
  sent.clear();
  EXPECT_FALSE(syncs->SetSyncPriority(id, 10));
  EXPECT_EQ(sent.size(), 1u);
  SyncRecord record;
  ASSERT_TRUE(syncs->Find(id, record));
  EXPECT_EQ(record.priority, 10);

  EXPECT_FALSE(syncs->SetSyncPriority(id + 1000, 1));
  syncs->CancelSync(id);
  EXPECT_FALSE(syncs->SetSyncPriority(id, 10));  // no longer running, even to the same value
}

TEST_F(SyncsTest, FolderProgressSumsEveryDownloadNameOnce) {
  const int32_t id = syncs->StartSync("Data", nullptr, 1, 0);
  done = {{"Data\\a.txt", 100}, {"pkg.pak", 150}};
  SyncInfo info;
  std::memset(&info, 0x5A, sizeof info);
  EXPECT_FALSE(syncs->GetSyncInfo(id, &info));  // Data\e.txt is known nowhere
  EXPECT_STREQ(info.name, "Data");
  EXPECT_EQ(info.totalSize, 600);
  EXPECT_EQ(info.state, UDRA_SYNC_RUNNING);
  done["Data\\e.txt"] = 7;
  EXPECT_TRUE(syncs->GetSyncInfo(id, &info));
  EXPECT_EQ(info.doneSize, 257);

  SyncInfo untouched;
  std::memset(&untouched, 0x5A, sizeof untouched);
  EXPECT_FALSE(syncs->GetSyncInfo(id + 1000, &untouched));
  EXPECT_EQ(untouched.state, 0x5A5A5A5A);
  EXPECT_FALSE(syncs->GetSyncInfo(id, nullptr));
}

TEST_F(SyncsTest, FileProgressIsItsPackage) {
  const int32_t id = syncs->StartSync("data\\C.TXT", nullptr, 1, 0);
  SyncInfo info;
  EXPECT_FALSE(syncs->GetSyncInfo(id, &info));
  EXPECT_EQ(info.doneSize, 0);
  EXPECT_STREQ(info.name, "data\\C.TXT");  // the caller's spelling
  done["pkg.pak"] = 42;
  EXPECT_TRUE(syncs->GetSyncInfo(id, &info));
  EXPECT_EQ(info.doneSize, 42);
  EXPECT_EQ(info.totalSize, 200);
}

}  // namespace
}  // namespace udra::test

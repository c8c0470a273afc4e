#include "SyncsFixture.h"

namespace udra::test {
namespace {

TEST_F(SyncsTest, IdsComeFromOneProcessWideCounter) {
  manager.present = {"Single.txt"};
  const int32_t first = syncs->StartSync("Single.txt", nullptr, 1, 0);
  EXPECT_GE(first, 0);
  EXPECT_EQ(syncs->StartSync(nullptr, nullptr, 1, 0), -1);
  EXPECT_EQ(syncs->StartSync("Data\\nothing.txt", nullptr, 1, 0), -1);  // refused before an id is taken
  auto other = MakeSyncs();  // a second manager continues the count
  EXPECT_EQ(other->StartSync("Single.txt", nullptr, 1, 0), first + 1);
  EXPECT_EQ(syncs->StartSync("single.TXT", nullptr, 1, 0), first + 2);
}

TEST_F(SyncsTest, PresentFileEndsAtOnceAndPostsEvenWithoutWindow) {
  manager.present = {"Single.txt"};
  const int32_t id = syncs->StartSync("/Single.txt/", nullptr, 7, 9);
  EXPECT_EQ(manager.callback, nullptr);  // the sync's window became the callback window
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].window, nullptr);
  EXPECT_EQ(posts[0].message, WM_SYNC_RETURN);
  EXPECT_EQ(posts[0].wParam, uintptr_t(id));
  EXPECT_TRUE(sent.empty());
  SyncInfo info;
  done["Single.txt"] = 50;
  EXPECT_TRUE(syncs->GetSyncInfo(id, &info));
  EXPECT_STREQ(info.name, "Single.txt");
  EXPECT_EQ(info.state, UDRA_SYNC_DONE);
  EXPECT_EQ(info.totalSize, 50);
  EXPECT_EQ(info.doneSize, 50);
  EXPECT_EQ(info.priority, 7);
  EXPECT_EQ(info.userParam, 9);
}

TEST_F(SyncsTest, PresentFolderPostsOnlyWithAWindow) {
  manager.present = {"Data\\a.txt", "pkg.pak", "Data\\e.txt"};
  const int32_t quiet = syncs->StartSync("Data", nullptr, 1, 0);
  EXPECT_TRUE(posts.empty());
  EXPECT_EQ(State(quiet), UDRA_SYNC_DONE);
  const int32_t loud = syncs->StartSync("Data", Wnd(5), 1, 0);
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].window, Wnd(5));
  EXPECT_EQ(posts[0].wParam, uintptr_t(loud));
  EXPECT_TRUE(sent.empty());
}

TEST_F(SyncsTest, FolderRequestsEachPackageOnceAndMarksTheTriggeringFile) {
  const int32_t id = syncs->StartSync("Data", Wnd(5), 3, 0);
  EXPECT_EQ(SentNames(), (std::vector<std::string>{"Data\\a.txt", "pkg.pak", "Data\\e.txt"}));
  SyncRecord record;
  ASSERT_TRUE(syncs->Find(id, record));
  EXPECT_EQ(record.state, UDRA_SYNC_RUNNING);
  EXPECT_EQ(record.totalSize, 100 + 200 + 300);
  EXPECT_EQ(record.pending.at("pkg.pak"), "Data\\b.txt");
  std::vector<std::string> marked;
  for (const auto& [path, entry] : useRecord.entries()) {
    if (entry.requested) marked.push_back(path);
  }
  EXPECT_EQ(marked, (std::vector<std::string>{"Data\\a.txt", "Data\\b.txt", "Data\\e.txt"}));
  EXPECT_TRUE(posts.empty());

  syncs->StartSync("Data", Wnd(5), Syncs::kUnrecordedPriority, 0);
  syncs->StartSync("Single.txt", Wnd(5), Syncs::kUnrecordedPriority, 0);
  EXPECT_EQ(useRecord.entries().size(), 3u);  // priority 101 marks nothing
  EXPECT_EQ(sent.size(), 7u);
}

TEST_F(SyncsTest, RequestRecordBytes) {
  const int32_t id = syncs->StartSync("Data\\a.txt", Wnd(5), -3, 0x11223344);
  ASSERT_EQ(sent.size(), 1u);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&sent[0]);
  auto i32 = [b](size_t off) {
    return int32_t(uint32_t(b[off]) | uint32_t(b[off + 1]) << 8 | uint32_t(b[off + 2]) << 16 |
                   uint32_t(b[off + 3]) << 24);
  };
  EXPECT_EQ(b[0] | b[1] << 8, 823);
  EXPECT_EQ(i32(2), CMD_SYNC_FILE);
  EXPECT_EQ(i32(6), id);
  EXPECT_STREQ(reinterpret_cast<const char*>(b + 10), "Data\\a.txt");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 266)), files.EncodedUrl("http://127.0.0.1/root", "Data\\a.txt"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 266)), "http://127.0.0.1/root/srv/data/Data/a.txt");
  EXPECT_EQ(i32(778), -3);
  EXPECT_EQ(i32(782), 0x11223344);
  EXPECT_EQ(i32(786), 100);
  EXPECT_STREQ(reinterpret_cast<const char*>(b + 790), "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa");
  EXPECT_EQ(b[822], 0);
  EXPECT_TRUE(Logged("T]Sync File " + std::to_string(id) + ":Data\\a.txt"));
}

TEST_F(SyncsTest, OverlongUrlIsCutToItsField) {
  SyncLinks links;
  links.send = [this](const PipeMsg& msg) {
    sent.push_back(msg);
    return true;
  };
  links.urlRoot = [] { return "http://127.0.0.1/" + std::string(700, 'x'); };
  Syncs longRoot(lock, files, useRecord, manager, *log, std::move(links));
  longRoot.StartSync("Data\\a.txt", nullptr, 1, 2);
  ASSERT_EQ(sent.size(), 1u);
  const SyncFileFields f = ReadSyncFile(sent[0]);
  EXPECT_EQ(f.url.size(), 511u);
  EXPECT_EQ(f.priority, 1);
  EXPECT_EQ(f.userParam, 2);
  EXPECT_EQ(f.packedDigest, "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa");
}

TEST_F(SyncsTest, OverlongPackageNameIsAnsweredUnderItsCutName) {
  const std::string package(300, 'p');
  ASSERT_TRUE(files.LoadFromBuffer("Big.txt|1|9|00000000000000000000000000000000|"
                                   "00000000000000000000000000000000|srv|" + package + "\n"));
  alive = {Wnd(5)};
  const int32_t id = syncs->StartSync("Big.txt", Wnd(5), 1, 0);
  ASSERT_EQ(sent.size(), 1u);
  const std::string wireName = ReadSyncFile(sent[0]).name;
  EXPECT_EQ(wireName, package.substr(0, 255));
  Complete(id, wireName, false, 5, 1);
  EXPECT_EQ(State(id), UDRA_SYNC_ERROR_KIND1);
  EXPECT_EQ(posts.size(), 1u);
}

TEST_F(SyncsTest, FailedSendLeavesTheSyncRunning) {
  sendResult = false;
  const int32_t id = syncs->StartSync("Single.txt", Wnd(5), 1, 0);
  EXPECT_EQ(State(id), UDRA_SYNC_RUNNING);
  syncs->OnHostLost();
  EXPECT_EQ(State(id), UDRA_SYNC_FAILED);
}

}  // namespace
}  // namespace udra::test

// The host's start order of downloads, its downloading-file table and the
// routing of downloads by their digest.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "host/DigestChecker.h"
#include "host/DownloadTable.h"
#include "host/JobBook.h"
#include "host/Outbox.h"
#include "host/SocketWatch.h"
#include "host/StoreQueue.h"
#include "platform/FileVersion.h"
#include "support/TempDir.h"

namespace udra::host {
namespace {

Waiter W(int32_t id, const std::string& name, int32_t priority, const std::string& url = "") {
  return Waiter{id, name, url.empty() ? "u/" + name : url, priority, 0};
}

std::vector<std::string> StartOrder(JobBook& book) {
  std::vector<std::string> order;
  while (Job* job = book.NextQueued()) {
    order.push_back(job->name);
    book.MarkActive(*job);
  }
  return order;
}

TEST(JobBook, HigherPriorityFirstThenArrivalOrder) {
  JobBook book;
  for (auto [name, prio] : std::vector<std::pair<std::string, int>>{{"a", 1}, {"b", 5}, {"c", 1}, {"d", -3}, {"e", 5}})
    book.Add(W(1, name, prio), 10, "D", nullptr);
  EXPECT_EQ(StartOrder(book), (std::vector<std::string>{"b", "e", "a", "c", "d"}));
}

TEST(JobBook, RequestsForOneNameShareAJobAndItsBestPriority) {
  JobBook book;
  bool created = false;
  book.Add(W(1, "Data\\X.pak", 0), 10, "D", &created);
  EXPECT_TRUE(created);
  book.Add(W(1, "y", 2), 10, "D", nullptr);
  Job* job = book.Add(W(2, "data\\x.PAK", 7), 10, "D", &created);
  EXPECT_FALSE(created);
  book.Add(W(2, "data\\x.pak", 7), 10, "D", nullptr);  // same sync id again: kept once
  ASSERT_EQ(job->waiters.size(), 2u);
  EXPECT_EQ(job->waiters[1].name, "data\\x.PAK");
  EXPECT_EQ(StartOrder(book), (std::vector<std::string>{"Data\\X.pak", "y"}));
}

TEST(JobBook, PriorityChangeAndCancelReorderTheQueue) {
  JobBook book;
  book.Add(W(1, "a", 0), 1, "D", nullptr);
  book.Add(W(1, "b", 0), 1, "D", nullptr);
  book.Add(W(2, "b", 0, "u/b"), 1, "D", nullptr);
  book.Add(W(1, "c", 0), 1, "D", nullptr);
  EXPECT_EQ(book.SetPriority("u/c", 9), 1);
  EXPECT_TRUE(book.Cancel("u/b", 1).empty());  // sync 2 still wants b
  EXPECT_EQ(book.Cancel("u/b", 2), std::vector<std::string>{"b"});
  EXPECT_TRUE(book.Cancel("u/a", 5).empty());  // unknown sync id: nothing happens
  book.Erase("b");
  EXPECT_EQ(StartOrder(book), (std::vector<std::string>{"c", "a"}));
}

TEST(JobBook, RequeuedJobKeepsItsPlace) {
  JobBook book;
  book.Add(W(1, "a", 0), 1, "D", nullptr);
  book.Add(W(1, "b", 0), 1, "D", nullptr);
  Job* a = book.NextQueued();
  book.MarkBackoff(*a);
  book.Requeue(*a);
  EXPECT_EQ(StartOrder(book), (std::vector<std::string>{"a", "b"}));
}

class TableTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> memory = std::vector<uint8_t>(4096, 0);
  uint32_t Length(uint32_t at) {
    uint32_t v;
    memcpy(&v, &memory[at], 4);
    return v;
  }
};

TEST_F(TableTest, EntriesArePublishedInPlaceAndReusedByName) {
  DownloadTable table;
  table.Attach(memory.data(), 4096);
  EXPECT_EQ(Length(0), 0u);
  const uint32_t a = table.EntryFor("Pkg\\A.pak", 100);
  const uint32_t b = table.EntryFor("b", 7);
  EXPECT_EQ(a, 0u);
  EXPECT_EQ(b, Length(0));
  EXPECT_EQ(Length(0) % 4, 0u);
  EXPECT_STREQ(reinterpret_cast<char*>(&memory[a + 12]), "Pkg\\A.pak");
  EXPECT_EQ(Length(b + Length(b)), 0u);  // terminator after the last entry
  EXPECT_EQ(table.EntryFor("pkg\\a.PAK", 100), a);
  table.SetDone(b, 5);
  EXPECT_EQ(table.Done(b), 5);
  EXPECT_EQ(table.EntryFor("", 1), DownloadTable::kNoEntry);
}

TEST_F(TableTest, FullTableRefusesWithoutOverrunning) {
  DownloadTable table;
  table.Attach(memory.data(), 64);
  EXPECT_NE(table.EntryFor(std::string(30, 'x'), 1), DownloadTable::kNoEntry);  // 44 bytes + 4 terminator
  EXPECT_EQ(table.EntryFor("second-name", 1), DownloadTable::kNoEntry);
  for (size_t i = 64; i < memory.size(); ++i) ASSERT_EQ(memory[i], 0) << i;
}

TEST_F(TableTest, TakesOverAnOldTableUpToTheFirstBadEntry) {
  {
    DownloadTable old;
    old.Attach(memory.data(), 4096);
    old.EntryFor("one", 1);
    old.SetDone(old.EntryFor("two", 2), 2);
  }
  DownloadTable table;
  table.Attach(memory.data(), 4096);
  EXPECT_EQ(table.entryCount(), 2u);
  EXPECT_EQ(table.EntryFor("TWO", 2), 16u);
  EXPECT_EQ(table.Done(16), 2);

  // An entry whose length runs past the table ends it.
  const uint32_t bad = 0xFFFFFF00u;
  memcpy(&memory[16], &bad, 4);
  DownloadTable damaged;
  damaged.Attach(memory.data(), 4096);
  EXPECT_EQ(damaged.entryCount(), 1u);
  EXPECT_EQ(Length(16), 0u);
  EXPECT_EQ(damaged.EntryFor("three", 3), 16u);
}

// A full table gives new names the entries of ended downloads, never those
// of running ones, and an entry keeps its offset and its length.
TEST_F(TableTest, FullTableReusesTheEntriesOfEndedDownloads) {
  DownloadTable table;
  table.Attach(memory.data(), 88);
  const uint32_t a = table.EntryFor("aaaa", 1);          // 20 bytes
  const uint32_t b = table.EntryFor(std::string(12, 'b'), 2);  // 28 bytes
  const uint32_t c = table.EntryFor("cccc", 3);
  table.SetDone(b, 77);
  ASSERT_EQ(table.EntryFor("dddd", 4), DownloadTable::kNoEntry);  // full: 68 + 20 + 4 > 88

  table.Release(a);
  table.Release(b);
  // The smallest ended entry that fits; the running one is never touched.
  EXPECT_EQ(table.EntryFor("dddd", 4), a);
  EXPECT_STREQ(reinterpret_cast<char*>(&memory[a + 12]), "dddd");
  EXPECT_EQ(Length(a), 20u);
  EXPECT_EQ(table.Done(a), 0);
  EXPECT_EQ(table.EntryFor(std::string(16, 'e'), 5), DownloadTable::kNoEntry) << "b's 28 bytes hold 15 at most";
  EXPECT_EQ(table.EntryFor("eeeeeeee", 5), b);
  EXPECT_STREQ(reinterpret_cast<char*>(&memory[b + 12]), "eeeeeeee");
  EXPECT_EQ(memory[b + 12 + 11], 0) << "the old name's tail is cleared";
  EXPECT_STREQ(reinterpret_cast<char*>(&memory[c + 12]), "cccc");
  EXPECT_EQ(table.EntryFor("aaaa", 1), DownloadTable::kNoEntry) << "its entry went to another name";
  EXPECT_EQ(table.EntryFor("CCCC", 3), c);

  // A later host takes every entry over as reusable, none as running.
  DownloadTable next;
  next.Attach(memory.data(), 88);
  EXPECT_EQ(next.reusableCount(), 3u);
  EXPECT_EQ(next.EntryFor("eeeeeeee", 9), b) << "a name keeps its entry";
  EXPECT_EQ(next.EntryFor("ffff", 6), a);
}

TEST(HostBinary, CarriesTheVersionTheLibraryReads) {
  uint16_t version[4] = {};
  ASSERT_TRUE(platform::ReadFileVersion(std::string(UDRA_STAGE_DIR) + "/UDRAHostApp.exe", version));
  EXPECT_EQ(version[0], 1);
  EXPECT_EQ(version[1], 0);
  EXPECT_EQ(version[2], 0);
  EXPECT_EQ(version[3], 1);
}


// Downloads whose bytes match go on to the store writer; the others come
// back as mismatches, a partial file that cannot be read with no digest.
// (No store is loaded here, so the writer refuses what reaches it.)
// Partial files are shared out evenly among the workers, so that no thread
// hashes most of a burst of large files alone; in-memory items are gathered
// up to a set of MD5 lanes, waiting a little for them when fewer wait.
// A game that reads slowly never loses an answer to a sync request; only
// the host's values and events, which later ones supersede, are shed, and a
// closed connection's records go nowhere.
TEST(Outbox, AnswersAreNeverDroppedAndEachConnectionHasItsOwnQueue) {
  platform::Event wake;
  Outbox outbox(wake);
  outbox.Open(1);
  outbox.Open(2);
  const size_t answers = Outbox::kMaxQueued + 100;
  for (size_t i = 0; i < answers; ++i)
    ASSERT_TRUE(outbox.Push(1, MakeSyncReturn(static_cast<int32_t>(i), "n", 1, true, 0, 0, "")));
  EXPECT_FALSE(outbox.Push(1, MakeHostValues(1, 2))) << "shed beyond the limit";
  outbox.Broadcast(MakeHostEvent(3));
  EXPECT_EQ(outbox.shed(), 2u);
  EXPECT_TRUE(outbox.Push(2, MakeHostValues(1, 2)));
  EXPECT_FALSE(outbox.Push(3, MakeHostValues(1, 2))) << "no such connection";
  EXPECT_EQ(outbox.size(1), answers);
  EXPECT_EQ(outbox.size(2), 2u) << "its own value and the event";

  PipeMsg msg;
  for (size_t i = 0; i < answers; ++i) {
    ASSERT_TRUE(outbox.Take(1, msg));
    ASSERT_EQ(ReadSyncReturn(msg).syncId, static_cast<int32_t>(i)) << "in order";
  }
  EXPECT_FALSE(outbox.Take(1, msg));
  outbox.Close(2);
  EXPECT_FALSE(outbox.Take(2, msg));
  EXPECT_FALSE(outbox.Push(2, MakeHostValues(1, 2)));
}

TEST(StoreQueue, RoundsShareFilesAndGatherInMemoryItems) {
  auto items = [](int count, bool files) {
    std::vector<StoreItem> out(static_cast<size_t>(count));
    for (StoreItem& item : out) {
      if (files)
        item.filePath = "f.part";
      else
        item.data = "bytes";
    }
    return out;
  };
  auto files = [](const std::vector<StoreItem>& round) {
    size_t n = 0;
    for (const StoreItem& item : round) n += item.filePath.empty() ? 0 : 1;
    return n;
  };
  StoreQueue queue(8);
  const RoundLimits limits{2, 1, 256, INT64_MAX};
  std::vector<StoreItem> round;
  int64_t bytes = 0;

  queue.Push(items(10, true));
  ASSERT_TRUE(queue.TakeRound(round, limits, bytes));
  EXPECT_EQ(round.size(), 5u);
  EXPECT_EQ(bytes, 0);
  ASSERT_TRUE(queue.TakeRound(round, limits, bytes));
  EXPECT_EQ(round.size(), 2u);  // half of the five left
  queue.Push(items(20, false));
  ASSERT_TRUE(queue.TakeRound(round, limits, bytes));
  EXPECT_EQ(files(round), 3u);   // the files first, in order...
  EXPECT_EQ(round.size(), 11u);  // ...half of the 23 waiting
  EXPECT_EQ(bytes, 8 * 5);
  queue.Release(bytes);
  ASSERT_TRUE(queue.TakeRound(round, limits, bytes));
  EXPECT_EQ(round.size(), 8u);  // gathered: more than half of twelve
  queue.Release(bytes);

  queue.Push(items(3, false));  // seven waiting: all taken after the wait
  ASSERT_TRUE(queue.TakeRound(round, limits, bytes));
  EXPECT_EQ(round.size(), 7u);
  queue.Release(bytes);
  EXPECT_EQ(queue.pendingBytes(), 0);
  queue.Stop();
  EXPECT_FALSE(queue.TakeRound(round, limits, bytes));
}

TEST(SocketWatch, ReportsWatchedSocketsAndWakes) {
  SocketWatch watch;
  ASSERT_TRUE(watch.valid());
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  std::vector<SocketWatch::Ready> ready;
  watch.Watch(pair[0], CURL_POLL_INOUT);
  watch.Wait(0, ready);
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].fd, pair[0]);
  EXPECT_EQ(ready[0].flags, CURL_CSELECT_OUT);  // writable, nothing to read yet

  ready.clear();
  watch.Watch(pair[0], CURL_POLL_IN);  // a change of interest, not a second entry
  ASSERT_EQ(write(pair[1], "x", 1), 1);
  watch.Wait(1000, ready);
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].flags, CURL_CSELECT_IN);

  ready.clear();
  watch.Watch(pair[0], CURL_POLL_REMOVE);
  watch.Wake();
  watch.Wait(5000, ready);  // returns at once, for the wake-up only
  EXPECT_TRUE(ready.empty());

  // A socket closed while still watched is dropped instead of being
  // reported (or polled) again and again.
  watch.Watch(pair[0], CURL_POLL_IN);
  close(pair[0]);
  watch.Wait(0, ready);
  watch.Wait(0, ready);
  EXPECT_TRUE(ready.empty());
  close(pair[1]);
}

TEST(DigestChecker, RoutesEachDownloadByItsDigest) {
  udra::test::TempDir dir;
  const std::string part = dir / "f.part";
  dir.Write("f.part", "abc");
  const std::string abcMd5 = "900150983CD24FB0D6963F7D28E17F72";
  std::mutex mu;
  std::map<std::string, StoreResult> results;
  auto collect = [&](StoreWriter::Results batch) {
    std::lock_guard<std::mutex> lock(mu);
    for (StoreResult& r : batch) results.emplace(r.key, std::move(r));
  };
  StoreLink noStore;
  StoreWriter writer(noStore, collect);
  DigestChecker checker(2, writer, collect);
  writer.Start();
  checker.Start();
  auto item = [](const char* key, std::string data, std::string file, int64_t size, std::string digest) {
    StoreItem i;
    i.key = key;
    i.name = key;
    i.data = std::move(data);
    i.filePath = std::move(file);
    i.size = size;
    i.digest = std::move(digest);
    return i;
  };
  std::vector<StoreItem> items;
  items.push_back(item("memory-ok", "abc", "", 3, abcMd5));
  items.push_back(item("memory-bad", "abd", "", 3, abcMd5));
  items.push_back(item("file-ok", "", part, 3, abcMd5));
  checker.Submit(std::move(items));
  items.clear();
  items.push_back(item("file-short", "", part, 4, abcMd5));
  items.push_back(item("file-missing", "", dir / "none.part", 3, abcMd5));
  checker.Submit(std::move(items));
  checker.Stop();
  writer.Stop();

  ASSERT_EQ(results.size(), 5u);
  EXPECT_TRUE(results["memory-ok"].digestMatched);
  EXPECT_TRUE(results["file-ok"].digestMatched);
  EXPECT_FALSE(results["memory-ok"].ok);  // refused by the missing store, after the check
  EXPECT_FALSE(results["memory-bad"].digestMatched);
  EXPECT_EQ(results["memory-bad"].digestFound.size(), 32u);
  for (const char* unreadable : {"file-short", "file-missing"}) {
    EXPECT_FALSE(results[unreadable].digestMatched) << unreadable;
    EXPECT_TRUE(results[unreadable].digestFound.empty()) << unreadable;
  }
  EXPECT_EQ(checker.pendingBytes(), 0);
}

}  // namespace
}  // namespace udra::host

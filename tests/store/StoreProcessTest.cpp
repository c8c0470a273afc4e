// The store shared by two processes, a writer killed mid-entry, a full disk.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "StoreTestUtil.h"
#include "components/store/ZavStore.h"

namespace udra::store::test {
namespace {

constexpr int kBatch = 5;

std::string BatchName(int generation, int k) {
  return "gen\\" + std::to_string(generation) + "-" + std::to_string(k);
}

bool ReadWhole(IZav& zav, const std::string& name, uint32_t seed, bool& present) {
  present = false;
  int32_t h = zav.OpenEntry(name.c_str(), 1, 0);
  if (h < 0) return true;
  int32_t size = zav.GetEntrySize(h);
  std::vector<uint8_t> buffer(static_cast<size_t>(size));
  uint32_t inout = static_cast<uint32_t>(size);
  if (!zav.ReadEntry(h, buffer.data(), &inout)) {
    // Losing the race with a replacement is fine; anything else is not.
    return zav.GetErrorCode(kZavLastError) == kZavErrChanged;
  }
  present = true;
  return inout == static_cast<uint32_t>(size) && IsWholeContent(seed, buffer.data(), inout);
}

// The child's side: batches of new entries and replacements of one hot entry.
int WriteGenerations(const std::string& store, int generations) {
  ZavStore zav;
  if (!zav.Load(store.c_str())) return 10;
  for (int g = 1; g <= generations; ++g) {
    std::vector<std::vector<uint8_t>> contents;
    std::vector<std::string> names;
    std::vector<ZavEntryData> batch;
    for (int k = 0; k < kBatch; ++k) {
      names.push_back(BatchName(g, k));
      contents.push_back(MakeContent(g * 100 + k, 1, 100 + (g * 31 + k) % 3000));
    }
    for (int k = 0; k < kBatch; ++k) {
      batch.push_back({names[k].c_str(), contents[k].data(), static_cast<uint32_t>(contents[k].size())});
    }
    if (!zav.PutEntries(batch.data(), kBatch)) return 11;
    uint32_t hotSize = g % 50 == 0 ? (1u << 20) : 1000u + static_cast<uint32_t>(g * 37 % 5000);
    std::vector<uint8_t> hot = MakeContent(0, static_cast<uint32_t>(g), hotSize);
    if (!zav.PutEntry("hot", hot.data(), static_cast<uint32_t>(hot.size()))) return 12;
  }
  return 0;
}

TEST(StoreProcesses, ReaderSeesOnlyCompleteEntriesAndBatchesWhileAnotherProcessWrites) {
  TempDir dir;
  {
    ZavStore zav;
    ASSERT_TRUE(zav.Create(dir.Store().c_str(), 0, 0));
    std::vector<uint8_t> hot = MakeContent(0, 0, 500);
    ASSERT_TRUE(zav.PutEntry("hot", hot.data(), static_cast<uint32_t>(hot.size())));
  }
  const int generations = 400;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(WriteGenerations(dir.Store(), generations));

  ZavStore zav;
  ASSERT_TRUE(zav.Load(dir.Store().c_str()));
  int status = 0;
  int rounds = 0;
  int failures = 0;
  int hotReads = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    ++rounds;
    int32_t count = zav.GetEntryCount();
    if (count < 1 || (count - 1) % kBatch != 0) ++failures;  // a batch shows whole or not at all
    bool present = false;
    if (!ReadWhole(zav, "hot", 0, present)) ++failures;
    if (present) ++hotReads;
    int generation = (count - 1) / kBatch;
    if (generation > 0) {
      int g = 1 + rounds % generation;
      if (!ReadWhole(zav, BatchName(g, rounds % kBatch), g * 100 + rounds % kBatch, present) || !present) {
        ++failures;
      }
    }
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(failures, 0);
  EXPECT_GT(hotReads, 0);
  EXPECT_EQ(zav.GetEntryCount(), 1 + generations * kBatch);
  bool present = false;
  EXPECT_TRUE(ReadWhole(zav, "hot", 0, present) && present);
}

off_t FolderSize(const std::string& folder) {
  off_t total = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    struct stat st;
    if (stat(e.path().c_str(), &st) == 0) total += st.st_size;
  }
  return total;
}

TEST(StoreProcesses, WriterKilledInTheMiddleOfALargeEntryLeavesTheOldEntry) {
  TempDir dir;
  const std::vector<uint8_t> old = MakeContent(42, 1, 4096);
  {
    ZavStore zav;
    ASSERT_TRUE(zav.Create(dir.Store().c_str(), 0, 0));
    ASSERT_TRUE(zav.PutEntry("big", old.data(), static_cast<uint32_t>(old.size())));
  }
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    ZavStore zav;
    if (!zav.Load(dir.Store().c_str())) _exit(10);
    std::vector<uint8_t> big = MakeContent(42, 2, 192u << 20);
    if (write(ready[1], "r", 1) != 1) _exit(11);
    zav.PutEntry("big", big.data(), static_cast<uint32_t>(big.size()));
    _exit(0);
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  // Kill it once a good part of the entry is written, long before its end.
  const std::string files = dir.Store() + "/ZAV.files";
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (FolderSize(files) < (24 << 20) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the writer finished before it could be killed";

  ZavStore zav;
  ASSERT_TRUE(zav.Load(dir.Store().c_str()));
  bool present = false;
  EXPECT_TRUE(ReadWhole(zav, "big", 42, present));
  EXPECT_TRUE(present);
  EXPECT_EQ(zav.GetEntrySizeByName("big"), static_cast<int32_t>(old.size()));
  EXPECT_EQ(zav.GetEntryCount(), 1);
  // What the dead writer left of the new entry was cleared away at Load.
  EXPECT_EQ(FolderSize(files), 0);
  // The dead writer's lock is gone: writing goes on.
  std::vector<uint8_t> next = MakeContent(42, 3, 100000);
  EXPECT_TRUE(zav.PutEntry("big", next.data(), static_cast<uint32_t>(next.size())));
  EXPECT_EQ(zav.GetEntrySizeByName("big"), 100000);
}

// Runs in a child with its own mount namespace and a 2 MiB file system.
int DiskFullChild(const std::string& mountPoint) {
  if (unshare(CLONE_NEWNS) != 0) return 77;
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 77;
  if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=2m") != 0) return 77;
  const std::string store = mountPoint + "/UDRADownload";
  ZavStore zav;
  if (zav.Create(store.c_str(), kZavCreateNew, 4u << 20)) return 1;
  if (zav.GetErrorCode(kZavLastError) != kZavErrDiskFull) return 2;
  if (std::filesystem::exists(store)) return 3;  // refused before touching anything
  if (!zav.Create(store.c_str(), kZavCreateNew, 256u << 10)) return 4;
  std::vector<uint8_t> small = MakeContent(1, 1, 1000);
  if (!zav.PutEntry("small", small.data(), 1000)) return 5;
  std::vector<uint8_t> big = MakeContent(2, 1, 3u << 20);
  if (zav.PutEntry("big", big.data(), static_cast<uint32_t>(big.size()))) return 6;
  if (zav.GetErrorCode(kZavLastError) != kZavErrDiskFull) return 7;
  if (zav.HasEntry("big")) return 8;
  if (!std::filesystem::is_empty(store + "/ZAV.files")) return 11;  // the part written is gone
  zav.Close();
  if (!zav.Load(store.c_str()) || zav.GetEntrySizeByName("small") != 1000) return 9;
  if (!zav.PutEntry("after", small.data(), 1000)) return 10;
  return 0;
}

TEST(StoreProcesses, FullDiskIsReportedAsCodeThree) {
  TempDir dir;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(DiskFullChild(dir.path()));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private mount namespace for a small file system";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "step that failed";
}

}  // namespace
}  // namespace udra::store::test

// The installation's store under the worst a machine does to it: the host
// killed while it commits, damaged WAL and shm files, a full disk. Real
// library, host, store and nginx. After each, whatever is read is the right
// bytes or a failure, syncs bring back what was lost, and the store holds
// every entry once and whole.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sqlite3.h>
#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>
#include <thread>

#include "EndToEndFixture.h"

namespace udra::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Files = std::map<std::string, std::string>;

Files SmallFiles(int count, const std::string& folder, uint32_t seed) {
  Files out;
  for (int i = 0; i < count; ++i)
    out[folder + "/d" + std::to_string(i % 20) + "/s" + std::to_string(i) + ".bin"] =
        hosttest::RandomBytes(200 + (i * 7919u) % 2800, seed + i);
  return out;
}

Files LargeFiles(int count, const std::string& folder, uint32_t seed) {
  Files out;
  for (int i = 0; i < count; ++i)
    out[folder + "/L" + std::to_string(i) + ".bin"] = hosttest::RandomBytes((1u << 20) + 4096 + i * 50000u, seed + i);
  return out;
}

Files Join(Files a, const Files& b) {
  a.insert(b.begin(), b.end());
  return a;
}

void KillHost(EndToEnd& env) {
  const int pid = env.HostPid();
  if (pid > 0) kill(pid, SIGKILL);
  // The library started it from this process: reap it, so that the next
  // store Load sees its maker gone and clears the files it left.
  if (pid > 0) waitpid(pid, nullptr, 0);
  for (int i = 0; i < 200 && env.HostPid() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// Syncs `path` until it ends done, at most `rounds` times (a round may fail
// while a killed host is replaced). The number of rounds it took, -1 when it
// never ended done.
int SyncUntilDone(EndToEnd& env, const std::string& path, int rounds) {
  for (int r = 1; r <= rounds; ++r) {
    SyncInfo info{};
    if (env.SyncAndWait(path, info, 60000) && info.state == UDRA_SYNC_DONE) return r;
    env.session().PumpUntil([] { return false; }, 300);
  }
  return -1;
}

// Every file read through the library: the names read wrong (bytes that are
// not the file's) and how many could not be read at all.
struct ReadCheck {
  std::vector<std::string> wrong;
  int unreadable = 0;
};
ReadCheck ReadEverything(EndToEnd& env, const Files& files) {
  ReadCheck check;
  for (const auto& [path, bytes] : files) {
    const std::string got = env.ReadFile(path);
    if (got == bytes) continue;
    if (got == "<cannot open>" || got == "<read failed>")
      ++check.unreadable;
    else
      check.wrong.push_back(path);
  }
  return check;
}

// The store's own account, read with SQLite once no process writes: every
// name once, small entries of their recorded size, every large entry's file
// there and of its size, no file in ZAV.files that no row names, a digest row
// for every entry, no partial file left behind. Empty when all holds.
std::string AuditStore(const std::string& install, size_t expectedEntries) {
  const std::string folder = install + "/UDRADownload";
  std::ostringstream problems;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((folder + "/ZAV.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return "cannot open ZAV.db";
  }
  auto count = [&](const char* sql) {
    sqlite3_stmt* st = nullptr;
    int64_t n = -1;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
      n = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    return n;
  };
  const int64_t rows = count("SELECT COUNT(*) FROM entries");
  if (rows != int64_t(expectedEntries)) problems << rows << " entries, expected " << expectedEntries << "; ";
  if (count("SELECT COUNT(DISTINCT name) FROM entries") != rows) problems << "a name stored twice; ";
  if (const int64_t n = count("SELECT COUNT(*) FROM entries WHERE file IS NULL AND length(data) <> size"))
    problems << n << " small entries of the wrong length; ";
  if (count("SELECT COUNT(*) FROM digests") != rows) problems << "digest rows differ from entries; ";
  std::set<std::string> named;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT file, size FROM entries WHERE file IS NOT NULL", -1, &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW) {
    const std::string file = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    const int64_t size = sqlite3_column_int64(st, 1);
    if (!named.insert(file).second) problems << "file " << file << " named twice; ";
    std::error_code ec;
    const auto onDisk = fs::file_size(folder + "/ZAV.files/" + file, ec);
    if (ec || int64_t(onDisk) != size) problems << "large entry " << file << " not whole; ";
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder + "/ZAV.files", ec))
    if (!named.count(entry.path().filename().string())) problems << "orphan " << entry.path().filename() << "; ";
  for (const auto& entry : fs::directory_iterator(folder + "/HostTemp", ec))
    problems << "partial file left: " << entry.path().filename() << "; ";
  return problems.str();
}

// `udra verify --json` on the installation: its exit code and output.
int VerifyTool(const std::string& install, std::string& output) {
  const std::string out = install + "/verify.out";
  const std::string command =
      std::string(UDRA_STAGE_DIR) + "/udra verify --json --dir " + install + " > " + out + " 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  output = text.str();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The checks every scenario ends with, after its last sync was done: each
// file reads back whole, the tool finds nothing wanting, the store holds each
// entry once and whole.
void ExpectWholeStore(EndToEnd& env, const Files& files) {
  const ReadCheck reads = ReadEverything(env, files);
  EXPECT_TRUE(reads.wrong.empty()) << reads.wrong.size() << " files read wrong, first " << reads.wrong.front();
  EXPECT_EQ(reads.unreadable, 0);
  env.session().Shutdown();
  KillHost(env);  // no writer while the store is audited
  std::string verify;
  EXPECT_EQ(VerifyTool(env.install().path(), verify), 0) << verify;
  EXPECT_NE(verify.find("\"problems\":0,"), std::string::npos) << verify;
  EXPECT_NE(verify.find("\"missing\":0,"), std::string::npos) << verify;
  EXPECT_EQ(AuditStore(env.install().path(), files.size()), "");
}

// ~2,000 small files synced while the host is killed at several points of
// their commits; the library starts new hosts and the syncs are repeated
// until one ends done.
TEST(StoreDamage, HostKilledDuringManySmallCommits) {
  const Files files = SmallFiles(2000, "Data", 1000);
  // One transfer at a time: a rate limit alone does not slow files this
  // small, and a sync over many connections could end between two looks at
  // its progress.
  EndToEnd env(files, "", "BandwidthLimit=1500000\nMaxParallel=1\n");
  ASSERT_TRUE(env.ready());
  env.Start();
  ASSERT_EQ(env.session().initResult(), 1);

  // Each round kills the host at the first look that shows files stored
  // since the last kill, until four kills are made: every kill falls on
  // fresh commits, and a late look on a busy machine cannot carry a round
  // to the end before it kills.
  int kills = 0;
  bool done = false;
  int64_t lastKillAt = 0;
  for (int attempt = 0; attempt < 12 && kills < 4 && !done; ++attempt) {
    // While the library still waits to replace the host killed before
    // (quick restarts wait longer each time), a sync can end before
    // anything arrived: it is tried again.
    bool killed = false;
    SyncInfo info{};
    env.session().Sync("Data", 0, 60000, [&](const SyncInfo& now) {
      if (!killed && now.doneSize > lastKillAt && now.doneSize < now.totalSize) {
        const int host = env.HostPid();
        killed = host > 0 && kill(host, SIGKILL) == 0;
        if (killed) lastKillAt = now.doneSize;
      }
      return true;
    }, info);
    done = info.state == UDRA_SYNC_DONE;
    // A kill that came after the host had committed and answered the last
    // file still lets the sync end done; done then means every file is
    // stored.
    if (killed && done) ExpectWholeStore(env, files);
    kills += killed && !done ? 1 : 0;
  }
  EXPECT_GE(kills, 3);
  ASSERT_GT(SyncUntilDone(env, "Data", 5), 0);
  ExpectWholeStore(env, files);
}

// Files in ZAV.files that no committed row names (read before the next host
// clears them away): a kill that fell between a move and its commit.
int UncommittedFiles(const std::string& install) {
  const std::string folder = install + "/UDRADownload";
  std::set<std::string> named;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((folder + "/ZAV.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT file FROM entries WHERE file IS NOT NULL", -1, &st, nullptr);
    while (st && sqlite3_step(st) == SQLITE_ROW) named.insert(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  int uncommitted = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder + "/ZAV.files", ec))
    uncommitted += named.count(entry.path().filename().string()) ? 0 : 1;
  return uncommitted;
}

// Large entries are moved from the host's partial file into ZAV.files and
// then committed. The host is killed as soon as a file arrives there, at a
// later arrival each round (the last a little after it), so that some kills fall between the move and the
// commit.
TEST(StoreDamage, HostKilledDuringLargeEntryMoves) {
  const Files files = Join(LargeFiles(8, "Data/Big", 5000), SmallFiles(40, "Data/Small", 7000));
  EndToEnd env(files, "");
  ASSERT_TRUE(env.ready());
  env.Start();
  ASSERT_EQ(env.session().initResult(), 1);
  const std::string entryFiles = env.install() / "UDRADownload/ZAV.files";
  ASSERT_TRUE(fs::is_directory(entryFiles));

  int kills = 0;
  for (int round = 0; round < 3; ++round) {
    const int host = env.HostPid();
    ASSERT_GT(host, 0);
    const int fd = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_GE(inotify_add_watch(fd, entryFiles.c_str(), IN_MOVED_TO | IN_CREATE), 0);
    std::atomic<bool> killed{false}, stop{false};
    std::thread watcher([&, fd, host, round] {
      int arrivals = 0;
      alignas(inotify_event) char buffer[4096];
      pollfd p{fd, POLLIN, 0};
      // The window between a move and its commit is short: wake first (as
      // root; without the privilege the kill merely comes later).
      sched_param top{};
      top.sched_priority = sched_get_priority_max(SCHED_FIFO);
      pthread_setschedparam(pthread_self(), SCHED_FIFO, &top);
      while (!stop) {
        if (poll(&p, 1, 20) <= 0 || read(fd, buffer, sizeof buffer) <= 0) continue;
        if (++arrivals < 1 + round) continue;
        if (round == 2) std::this_thread::sleep_for(std::chrono::microseconds(500));
        killed = kill(host, SIGKILL) == 0;
        return;
      }
    });
    SyncInfo info{};
    env.session().Sync("Data", 0, 60000, [&](const SyncInfo&) { return true; }, info);
    stop = true;
    watcher.join();
    close(fd);
    if (killed) {
      ++kills;
      EXPECT_NE(info.state, UDRA_SYNC_DONE);
      std::cout << "[ figure   ] kill " << kills << ": " << UncommittedFiles(env.install().path())
                << " file(s) in ZAV.files that no committed row names\n";
    }
    for (int i = 0; i < 400 && env.HostPid() == host; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // The next round needs a running host to watch.
    for (int i = 0; i < 600 && env.HostPid() <= 0; ++i) env.session().PumpUntil([] { return false; }, 10);
  }
  EXPECT_GE(kills, 2);
  ASSERT_GT(SyncUntilDone(env, "Data", 5), 0);
  ExpectWholeStore(env, files);
}

// A damage done to the store's files while neither game nor host runs.
struct Damage {
  const char* what;
  std::function<void(const std::string& folder)> apply;
};

void Garble(const std::string& path, uintmax_t at, size_t count) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(std::streamoff(at));
  const std::string noise = hosttest::RandomBytes(count, uint32_t(at) + 17);
  file.write(noise.data(), std::streamsize(noise.size()));
}

std::vector<Damage> Damages() {
  auto size = [](const std::string& path) {
    std::error_code ec;
    const auto n = fs::file_size(path, ec);
    return ec ? 0 : n;
  };
  return {
      {"WAL truncated in a frame", [=](const std::string& d) { fs::resize_file(d + "/ZAV.db-wal", size(d + "/ZAV.db-wal") / 2 + 123); }},
      {"WAL truncated to nothing", [](const std::string& d) { fs::resize_file(d + "/ZAV.db-wal", 0); }},
      {"WAL garbled in the middle", [=](const std::string& d) { Garble(d + "/ZAV.db-wal", size(d + "/ZAV.db-wal") / 2, 8192); }},
      {"WAL header garbled", [](const std::string& d) { Garble(d + "/ZAV.db-wal", 0, 32); }},
      {"WAL removed", [](const std::string& d) { fs::remove(d + "/ZAV.db-wal"); }},
      {"shm removed", [](const std::string& d) { fs::remove(d + "/ZAV.db-shm"); }},
      {"shm truncated", [](const std::string& d) { fs::resize_file(d + "/ZAV.db-shm", 100); }},
      {"shm garbled", [=](const std::string& d) { Garble(d + "/ZAV.db-shm", 0, size_t(size(d + "/ZAV.db-shm"))); }},
      {"stale shm of another size",
       [](const std::string& d) {
         std::ofstream(d + "/ZAV.db-shm", std::ios::binary | std::ios::trunc) << hosttest::RandomBytes(98304 + 7, 3);
       }},
      {"WAL and shm garbled",
       [=](const std::string& d) {
         Garble(d + "/ZAV.db-wal", 4096, 4096);
         Garble(d + "/ZAV.db-shm", 0, 136);
       }},
  };
}

// Each damage in turn on a store freshly filled: the store is synced, the
// host stopped before it checkpoints and killed once the game is gone, so
// the last commits live only in the WAL when the damage is done.
TEST(StoreDamage, DamagedWalAndShmNeverServeWrongBytesAndSyncsMendThem) {
  const Files files = Join(SmallFiles(120, "Data/Small", 11000), LargeFiles(2, "Data/Big", 12000));
  EndToEnd env(files, "");
  ASSERT_TRUE(env.ready());
  const std::string folder = env.install() / "UDRADownload";
  for (const Damage& damage : Damages()) {
    SCOPED_TRACE(damage.what);
    std::error_code ec;
    fs::remove_all(folder, ec);
    env.Start();
    ASSERT_EQ(env.session().initResult(), 1);
    SyncInfo info{};
    ASSERT_TRUE(env.SyncAndWait("Data", info, 60000));
    ASSERT_EQ(info.state, UDRA_SYNC_DONE);
    const int host = env.HostPid();
    ASSERT_GT(host, 0);
    kill(host, SIGSTOP);  // no checkpoint from here on
    env.session().Shutdown();
    KillHost(env);
    ASSERT_TRUE(fs::exists(folder + "/ZAV.db-wal"));
    ASSERT_TRUE(fs::exists(folder + "/ZAV.db-shm"));
    damage.apply(folder);

    env.Restart();
    ASSERT_EQ(env.session().initResult(), 1);
    const ReadCheck before = ReadEverything(env, files);
    EXPECT_TRUE(before.wrong.empty()) << before.wrong.size() << " files read wrong, first " << before.wrong.front();
    std::cout << "[ figure   ] " << damage.what << ": " << before.unreadable << " of " << files.size()
              << " files lost\n";
    ASSERT_GT(SyncUntilDone(env, "Data", 2), 0);
    ExpectWholeStore(env, files);
  }
}

// The scenario of the full disk, run in a child with its own mount namespace
// where UDRADownload is a small tmpfs. It returns what went wrong, "" when
// nothing did; "skip: ..." when the machine does not allow the namespace.
std::string DiskFullScenario(EndToEnd& env, const Files& files) {
  const std::string folder = env.install() / "UDRADownload";
  fs::create_directories(folder);
  if (unshare(CLONE_NEWNS) != 0) return "skip: unshare(CLONE_NEWNS) refused";
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return "skip: cannot make / private";
  if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=6m,mode=0700") != 0) return "skip: cannot mount a tmpfs";
  // What is left free, 2 MiB, cannot hold the content (2.3 MiB stored, more
  // with the database's log) whatever the timing: with 3 MiB left, a slow
  // host whose log was folded back often enough got it all in.
  const std::string filler = folder + "/filler.bin";
  std::ofstream(filler, std::ios::binary) << std::string(4u << 20, 'f');

  std::ostringstream problems;
  env.Start();
  if (env.session().initResult() != 1) return "the game did not start";
  SyncInfo info{};
  if (!env.SyncAndWait("Data", info, 60000)) return "the first sync never returned";
  if (info.state != UDRA_SYNC_ERROR_KIND2) problems << "the sync that filled the disk ended " << info.state << "; ";
  env.session().PumpUntil([] { return false; }, 300);  // events posted with the answer
  const auto& events = env.session().hostEvents();
  if (std::find(events.begin(), events.end(), uintptr_t(2)) == events.end()) problems << "no disk-full event; ";
  const ReadCheck full = ReadEverything(env, files);
  if (!full.wrong.empty()) problems << full.wrong.size() << " files read wrong on the full disk; ";
  if (full.unreadable == 0) problems << "everything fitted: the disk never filled; ";
  std::cout << "[ figure   ] " << files.size() - full.unreadable << " of " << files.size()
            << " files stored before the disk was full\n";

  fs::remove(filler);
  SyncInfo again{};
  if (!env.SyncAndWait("Data", again, 60000) || again.state != UDRA_SYNC_DONE)
    problems << "the sync after space was freed ended " << again.state << "; ";
  const ReadCheck after = ReadEverything(env, files);
  if (!after.wrong.empty() || after.unreadable)
    problems << after.wrong.size() << " wrong, " << after.unreadable << " unreadable after space was freed; ";
  env.session().Shutdown();
  KillHost(env);
  const std::string audit = AuditStore(env.install().path(), files.size());
  if (!audit.empty()) problems << "store: " << audit;
  return problems.str();
}

TEST(StoreDamage, DiskFullFailsWithAStoreErrorAndTheSameSyncCompletesOnceSpaceIsFree) {
  const Files files = Join(SmallFiles(150, "Data/Small", 21000), LargeFiles(2, "Data/Big", 22000));
  EndToEnd env(files, "", "[ResPool]\nReservedSize=65536\n");
  ASSERT_TRUE(env.ready());
  const std::string report = env.install() / "disk-full.report";
  std::cout.flush();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string problems = DiskFullScenario(env, files);
    KillHost(env);
    std::ofstream(report) << problems;
    std::cout.flush();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the scenario's process died, status " << status;
  std::ifstream in(report);
  std::stringstream text;
  text << in.rdbuf();
  const std::string problems = text.str();
  if (problems.rfind("skip: ", 0) == 0) GTEST_SKIP() << problems;
  EXPECT_EQ(problems, "");
}

}  // namespace
}  // namespace udra::e2e

// One installation used by several processes at once: games, the udra tool
// beside them, and hosts that end and are started again. Real library, host,
// store and nginx; the content comes through nginx's rate-limited path, so
// that the processes' syncs overlap.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "EndToEndFixture.h"
#include "platform/NamedMutex.h"
#include "util/Paths.h"

namespace udra::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFiles = 16;

const std::map<std::string, std::string>& Content() {
  static const std::map<std::string, std::string> files = [] {
    std::map<std::string, std::string> out;
    for (int i = 0; i < kFiles; ++i) {
      const std::string folder = i % 2 ? "Data/Maps/" : "Data/Sound/";
      out[folder + "f" + std::to_string(i) + ".bin"] = hosttest::RandomBytes(400000 + i * 1000, 100 + i);
    }
    return out;
  }();
  return files;
}

// `udra` run as a second game on the installation, its output in a file.
class ToolProcess {
 public:
  ToolProcess(const std::string& install, const std::string& url, const std::string& path, const std::string& out) {
    pid_ = fork();
    if (pid_ == 0) {
      freopen(out.c_str(), "w", stdout);
      freopen(out.c_str(), "a", stderr);
      execl(UDRA_STAGE_DIR "/udra", "udra", "sync", path.c_str(), "--dir", install.c_str(), "--url", url.c_str(),
            "--timeout", "60", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~ToolProcess() {
    if (pid_ > 0) Kill();
  }
  // The exit code, -1 when it did not end within `timeoutMs`.
  int Wait(uint32_t timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  void Kill() {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class ManyProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    env = std::make_unique<EndToEnd>(std::map<std::string, std::string>{{"Data/seed.txt", "seed"}}, "");
    ASSERT_TRUE(env->ready());
    ASSERT_TRUE(env->Publish(Content(), "", "slow/v2"));
  }
  std::string Install() const { return env->install().path(); }
  std::string Url() { return env->server().Url(""); }
  std::string Out(const std::string& name) const { return Install() + "/" + name + ".out"; }
  // Every log line of every process of the installation.
  std::string Logs() const {
    std::string all;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(Install() + "/Logs", ec)) all += ReadAll(entry.path());
    return all;
  }
  // How often the server sent each content file.
  void ExpectEachFileFetchedOnce() {
    const std::string log = env->server().AccessLog();
    for (const auto& entry : Content())
      EXPECT_EQ(Count(log, "/slow/v2/" + entry.first + " "), 1u) << entry.first;
  }

  std::unique_ptr<EndToEnd> env;
};

// Two games and the tool sync overlapping folders at the same time: one host
// serves them all, every sync ends done, every file is fetched once and no
// process takes another's connection for a lost host.
TEST_F(ManyProcesses, TwoGamesAndAToolShareOneHost) {
  env->Start();
  ASSERT_EQ(env->session().initResult(), 1);
  const int host = env->HostPid();
  ASSERT_GT(host, 0);

  ToolProcess game(Install(), Url(), "Data", Out("game"));
  ToolProcess tool(Install(), Url(), "Data/Maps", Out("tool"));
  SyncInfo info{};
  ASSERT_TRUE(env->SyncAndWait("Data/Sound", info, 60000));
  EXPECT_EQ(info.state, UDRA_SYNC_DONE);
  EXPECT_EQ(game.Wait(60000), 0) << ReadAll(Out("game"));
  EXPECT_EQ(tool.Wait(60000), 0) << ReadAll(Out("tool"));

  EXPECT_EQ(env->HostPid(), host) << "the host was never replaced";
  ExpectEachFileFetchedOnce();
  for (const auto& [path, bytes] : Content()) EXPECT_TRUE(env->ReadFile(path) == bytes) << path;
  EXPECT_EQ(Logs().find("ProcessHostAppCrush()"), std::string::npos) << "no process ran a recovery";
}

// A game killed in the middle of its sync takes only itself away: the other
// game's sync of the same files completes, and the host ends soon after the
// last game has gone.
TEST_F(ManyProcesses, AKilledGameDoesNotDisturbTheOther) {
  ToolProcess first(Install(), Url(), "Data", Out("first"));
  for (int i = 0; i < 100 && env->HostPid() <= 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const int host = env->HostPid();
  ASSERT_GT(host, 0);
  ToolProcess second(Install(), Url(), "Data", Out("second"));
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  first.Kill();
  EXPECT_EQ(second.Wait(60000), 0) << ReadAll(Out("second"));
  EXPECT_EQ(env->HostPid(), host);
  ExpectEachFileFetchedOnce();
  EXPECT_EQ(Logs().find("ProcessHostAppCrush()"), std::string::npos);

  const auto gone = Clock::now();
  while (env->HostPid() > 0 && Clock::now() - gone < std::chrono::seconds(10))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - gone).count();
  EXPECT_LE(env->HostPid(), 0) << "the host still runs " << ms << " ms after the last game ended";
  std::cout << "[ figure   ] the host ended " << ms << " ms after the last game\n";
}

// The tool run again and again right after itself, as a script does: each
// run finds the previous run's host still ending. Every run must be served,
// by that host or by a new one, well before the 50 s a connect may wait.
TEST_F(ManyProcesses, RunsOneAfterAnotherFindTheEndingHostOrStartANewOne) {
  for (int run = 0; run < kFiles / 2; ++run) {
    const std::string name = "run" + std::to_string(run);
    // The host looks for ended games once a second: runs that follow at
    // growing delays meet it at every point of its end.
    std::this_thread::sleep_for(std::chrono::milliseconds(140 * run));
    const auto started = Clock::now();
    const std::string file = std::string(run % 2 ? "Data/Maps/f" : "Data/Sound/f") + std::to_string(run) + ".bin";
    ToolProcess tool(Install(), Url(), file, Out(name));
    EXPECT_EQ(tool.Wait(20000), 0) << name << ": " << ReadAll(Out(name));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    EXPECT_LT(ms, 15000) << name << " waited for a host that had ended";
  }
}

// A game that starts while the previous host is ending: the host still
// holds its instance mutex but its pipe is gone, so the game starts none of
// its own and its first connect fails. Here the test holds the mutex for
// that host, for a second. The game must start a host once the old one has
// gone instead of waiting out its 500 pipe attempts.
TEST_F(ManyProcesses, AGameThatMeetsAnEndingHostStartsANewOneWhenItHasGone) {
  auto ending = platform::NamedMutex::CreateOrOpen(InstanceKeyOf(Install()), true);
  ASSERT_TRUE(ending);
  ToolProcess tool(Install(), Url(), "Data/Maps/f1.bin", Out("late"));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  ending.reset();
  const auto released = Clock::now();
  EXPECT_EQ(tool.Wait(20000), 0) << ReadAll(Out("late"));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - released).count();
  EXPECT_LT(ms, 10000) << "the game waited for a host nobody started";
}

// The host is told to end while it downloads. The library starts a new one,
// and progress and the shared state work on it: the shared objects outlived
// the host that made them.
TEST_F(ManyProcesses, AHostThatEndsInAnOrderlyWayIsFollowedByOneThatReportsProgress) {
  env->Start();
  ASSERT_EQ(env->session().initResult(), 1);
  const int first = env->HostPid();
  ASSERT_GT(first, 0);
  SyncInfo info{};
  bool signalled = false;
  env->session().Sync("Data", 0, 60000, [&](const SyncInfo& now) {
    if (!signalled && now.doneSize > 0) {
      signalled = kill(first, SIGTERM) == 0;
    }
    return true;
  }, info);
  ASSERT_TRUE(signalled);
  EXPECT_NE(info.state, UDRA_SYNC_DONE);

  int next = -1;
  for (int i = 0; i < 200 && (next <= 0 || next == first); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    next = env->HostPid();
  }
  ASSERT_GT(next, 0);
  ASSERT_NE(next, first);
  int32_t partial = -1;
  bool shared = false;
  ASSERT_TRUE(env->session().Sync("Data", 0, 60000, [&](const SyncInfo& now) {
    if (now.doneSize > 0 && now.doneSize < now.totalSize) partial = now.doneSize;
    shared = shared || env->manager()->RefreshShareState();
    return true;
  }, info));
  EXPECT_EQ(info.state, UDRA_SYNC_DONE);
  EXPECT_GT(partial, 0) << "progress was reported while the new host downloaded";
  EXPECT_TRUE(shared) << "the new host's shared state was seen";
}

// A host that ends as soon as it starts: the library starts it a few times,
// spaced out, gives up, and the game's calls are never held meanwhile.
TEST_F(ManyProcesses, AHostThatDiesAtEveryStartIsNotStartedInALoop) {
  env->Start();
  ASSERT_EQ(env->session().initResult(), 1);
  const int host = env->HostPid();
  ASSERT_GT(host, 0);
  const std::string starts = Install() + "/starts.txt";
  const std::string exe = Install() + "/UDRAHostApp.exe";
  fs::remove(exe);
  std::ofstream(exe) << "#!/bin/sh\necho started >> '" << starts << "'\nexit 0\n";
  fs::permissions(exe, fs::perms::owner_all);
  kill(host, SIGKILL);

  const auto begin = Clock::now();
  auto longest = Clock::duration::zero();
  while (Clock::now() - begin < std::chrono::seconds(8)) {
    const auto before = Clock::now();
    SyncInfo info{};
    env->manager()->GetSyncInfo(-1, &info);  // takes the manager's lock
    longest = std::max(longest, Clock::now() - before);
    env->session().PumpUntil([] { return false; }, 50);
  }
  EXPECT_EQ(Count(ReadAll(starts), "started"), 3u);
  EXPECT_LT(longest, std::chrono::seconds(2)) << "a call waited for the recovery";
  EXPECT_NE(Logs().find("UDRAHostApp.exe restarts too often"), std::string::npos);
}

}  // namespace
}  // namespace udra::e2e

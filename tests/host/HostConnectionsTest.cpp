// One host serving several games of its installation at once: the staged
// UDRAHostApp.exe, the real store and a private nginx, with one pipe client
// per game.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>

#include "HostTestEnv.h"
#include "platform/NamedMutex.h"

namespace udra::hosttest {
namespace {

using Clock = std::chrono::steady_clock;

// A process that stands for a game: it only lives until it is killed.
class GameProcess {
 public:
  GameProcess() : pid_(fork()) {
    if (pid_ == 0) {
      pause();
      _exit(0);
    }
  }
  ~GameProcess() { Kill(); }
  pid_t pid() const { return pid_; }
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_;
};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Whether the host's values (the answer to CMD_TICK) arrive; events on the
// way are skipped.
bool ReceivesValues(PipeClient& client, uint32_t timeoutMs) {
  PipeMsg msg;
  while (client.Receive(msg, timeoutMs))
    if (PipeMsgCmd(msg) == CMD_HOST_VALUES) return true;
  return false;
}

class HostConnections : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(nginx.Start()) << "nginx did not start";
    install = std::make_unique<Installation>("[Host]\nMaxParallel=4\n");
    ASSERT_TRUE(install->StartHost());
    ASSERT_TRUE(first.Connect(install->key(), 5000, gameA.pid()));
    ASSERT_TRUE(second.Connect(install->key(), 5000, gameB.pid()));
  }

  test::TempDir work;
  Nginx nginx{work.path()};
  std::unique_ptr<Installation> install;
  GameProcess gameA, gameB;
  PipeClient first, second;
};

// Both games use sync id 1 for different things: each answer goes to the
// game that asked, a shared name is fetched once and answered to both, and a
// cancel of one game leaves the other's request alone.
TEST_F(HostConnections, EachGameGetsItsOwnAnswersAndSharedNamesAreFetchedOnce) {
  const std::string shared = RandomBytes(3 << 20, 1), mine = RandomBytes(5000, 2), yours = RandomBytes(7000, 3);
  const std::string sharedDigest = nginx.Put("slow/shared.bin", shared);
  const std::string sharedUrl = nginx.Url("slow/shared.bin");
  ASSERT_TRUE(first.SendSync(1, "Shared.bin", sharedUrl, static_cast<int32_t>(shared.size()), sharedDigest));
  ASSERT_TRUE(second.SendSync(1, "shared.bin", sharedUrl, static_cast<int32_t>(shared.size()), sharedDigest));
  ASSERT_TRUE(first.SendSync(2, "mine", nginx.Url("c/mine"), 5000, nginx.Put("c/mine", mine)));
  ASSERT_TRUE(second.SendSync(2, "yours", nginx.Url("c/yours"), 7000, nginx.Put("c/yours", yours)));
  ASSERT_TRUE(first.Send(MakeCancelFile(sharedUrl.c_str(), 1)));

  auto a = first.WaitReturns(1, 10000);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].syncId, 2);
  EXPECT_EQ(a[0].name, "mine");
  EXPECT_TRUE(a[0].ok) << a[0].errorText;
  auto b = second.WaitReturns(2, 15000);
  ASSERT_EQ(b.size(), 2u);
  std::map<int32_t, SyncReturnFields> byId{{b[0].syncId, b[0]}, {b[1].syncId, b[1]}};
  EXPECT_TRUE(byId[1].ok) << byId[1].errorText;
  EXPECT_EQ(byId[1].name, "shared.bin");
  EXPECT_EQ(byId[1].reportedSize, static_cast<int32_t>(shared.size()));
  EXPECT_EQ(byId[2].name, "yours");
  EXPECT_TRUE(first.WaitReturns(1, 500).empty()) << "the cancelled request is never answered";
  EXPECT_EQ(Count(nginx.AccessLog(), "/slow/shared.bin "), 1u);

  // Ticks are answered to the game that sent them; events go to both.
  ASSERT_TRUE(second.Send(MakeTick()));
  EXPECT_TRUE(ReceivesValues(second, 5000));
  EXPECT_FALSE(ReceivesValues(first, 300));
  StoreReader store(install->folder());
  std::string stored;
  ASSERT_TRUE(store.Read("shared.bin", stored));
  EXPECT_TRUE(stored == shared);
}

// A game that is killed takes only its own requests with it; the host goes
// on for the other game and ends soon after the last one is gone.
TEST_F(HostConnections, AGameThatIsKilledDoesNotDisturbTheOther) {
  const std::string big = RandomBytes(4 << 20, 4), own = RandomBytes(3 << 20, 5);
  const std::string bigDigest = nginx.Put("slow/big.bin", big);
  const std::string ownDigest = nginx.Put("slow/own.bin", own);
  ASSERT_TRUE(first.SendSync(7, "big", nginx.Url("slow/big.bin"), static_cast<int32_t>(big.size()), bigDigest));
  ASSERT_TRUE(second.SendSync(9, "big", nginx.Url("slow/big.bin"), static_cast<int32_t>(big.size()), bigDigest));
  ASSERT_TRUE(first.SendSync(8, "own", nginx.Url("slow/own.bin"), static_cast<int32_t>(own.size()), ownDigest));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  gameA.Kill();
  first.Disconnect();

  auto b = second.WaitReturns(1, 15000);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0].syncId, 9);
  EXPECT_TRUE(b[0].ok) << b[0].errorText;
  // The killed game's own download stopped with it.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int32_t stopped = TableDoneBytes(install->key(), "own");
  EXPECT_LT(stopped, static_cast<int32_t>(own.size()));
  EXPECT_FALSE(install->host()->Wait(1500)) << "the other game still runs";

  const auto killed = Clock::now();
  gameB.Kill();
  ASSERT_TRUE(install->host()->Wait(5000));
  EXPECT_EQ(install->host()->exitCode(), 0);
  EXPECT_LT(Clock::now() - killed, std::chrono::seconds(3));
  EXPECT_FALSE(platform::NamedMutex::Exists(install->key()));
}

}  // namespace
}  // namespace udra::hosttest

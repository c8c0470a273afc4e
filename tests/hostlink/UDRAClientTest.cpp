#include "hostlink/UDRAClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "hostlink/HostlinkTestSupport.h"
#include "platform/Window.h"
#include "support/OsSupport.h"

namespace udra {
namespace {

using hostlinktest::FakeHost;
using hostlinktest::FakeListener;
using hostlinktest::ReadMessage;
using hostlinktest::ReadRecord;
using hostlinktest::UniqueKey;
using hostlinktest::WaitUntil;
using hostlinktest::WriteMessage;
using hostlinktest::WriteRecord;

// Reads records until one of `cmd` arrives (skipping CMD_HELLO and the like).
bool ReadRecordOf(platform::MessagePipe& pipe, int32_t cmd, PipeMsg& msg) {
  for (int i = 0; i < 20; ++i) {
    if (!ReadRecord(pipe, msg)) return false;
    if (PipeMsgCmd(msg) == cmd) return true;
  }
  return false;
}

TEST(UDRAClient, StartFailsWithoutHostAndRefusesRecords) {
  UDRAClient client(UniqueKey("HLNOHOST"));
  FakeListener listener;
  EXPECT_FALSE(client.Start(1, nullptr));
  EXPECT_FALSE(client.Start(1, &listener));
  EXPECT_FALSE(client.SendMsg(MakeTick()));  // no listen thread: refused
  EXPECT_FALSE(client.WaitListenThread(0));
  EXPECT_TRUE(client.Stop());
}

TEST(UDRAClient, HelloOpensTheConnectionAndASecondStartChangesNothing) {
  const std::string key = UniqueKey("HLHELLO");
  FakeHost host(key);
  ASSERT_TRUE(host.ok());
  FakeListener listener;
  UDRAClient client(key);
  ASSERT_TRUE(client.Start(1, &listener));
  auto pipe = host.Accept();
  ASSERT_NE(pipe, nullptr);

  EXPECT_FALSE(client.Start(1, &listener));
  FakeListener other;
  EXPECT_FALSE(client.Start(1, &other));

  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadMessage(*pipe, bytes));
  ASSERT_EQ(bytes.size(), 10u);  // only len bytes travel
  PipeMsg hello;
  ASSERT_TRUE(PipeMsgFromWire(bytes.data(), bytes.size(), hello));
  EXPECT_EQ(PipeMsgCmd(hello), CMD_HELLO);
  EXPECT_EQ(static_cast<uint32_t>(ReadInt32At(hello, 6)), platform::CurrentProcessId());

  // The second Start did not open another connection or send another hello.
  EXPECT_EQ(host.Accept(100), nullptr);
  ASSERT_TRUE(client.SendMsg(MakeTick()));
  PipeMsg tick;
  ASSERT_TRUE(ReadRecord(*pipe, tick));
  EXPECT_EQ(PipeMsgCmd(tick), CMD_TICK);

  EXPECT_TRUE(client.Stop());
  EXPECT_FALSE(client.SendMsg(MakeTick()));  // after Stop: refused
  // The listen thread closed its pipe when it ended.
  EXPECT_FALSE(ReadMessage(*pipe, bytes));
}

TEST(UDRAClient, RecordsTravelInOrderOneMessageEachAndRepliesReachTheListener) {
  const std::string key = UniqueKey("HLORDER");
  FakeHost host(key);
  FakeListener listener;
  UDRAClient client(key);
  ASSERT_TRUE(client.Start(1, &listener));
  auto pipe = host.Accept();
  ASSERT_NE(pipe, nullptr);
  PipeMsg msg;
  ASSERT_TRUE(ReadRecord(*pipe, msg));
  ASSERT_EQ(PipeMsgCmd(msg), CMD_HELLO);

  for (int i = 0; i < 10; ++i) ASSERT_TRUE(client.SendMsg(MakeSetPriority("http://h/f", i)));
  for (int i = 0; i < 10; ++i) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadMessage(*pipe, bytes));
    ASSERT_EQ(bytes.size(), 522u);
    ASSERT_TRUE(PipeMsgFromWire(bytes.data(), bytes.size(), msg));
    EXPECT_EQ(PipeMsgCmd(msg), CMD_SET_PRIORITY);
    EXPECT_EQ(ReadUrlRecord(msg).value, i);
  }

  ASSERT_TRUE(WriteRecord(*pipe, MakeHostValues(7, -3)));
  ASSERT_TRUE(WriteRecord(*pipe, MakeSyncReturn(4, "a\\b.dat", 10, true, 0, 0, "")));
  ASSERT_TRUE(listener.WaitReceived(2));
  const auto got = listener.received();
  EXPECT_EQ(PipeMsgCmd(got[0]), CMD_HOST_VALUES);
  EXPECT_EQ(ReadInt32At(got[0], 6), 7);
  EXPECT_EQ(ReadInt32At(got[0], 10), -3);
  EXPECT_EQ(ReadSyncReturn(got[1]).name, "a\\b.dat");
  EXPECT_EQ(listener.restarts, 0);
  client.Stop();
}

TEST(UDRAClient, WritesWaitForAPendingWriteAndKeepTheirOrder) {
  const std::string key = UniqueKey("HLPEND");
  FakeHost host(key);
  FakeListener listener;
  UDRAClient client(key);
  ASSERT_TRUE(client.Start(1, &listener));
  auto pipe = host.Accept();
  ASSERT_NE(pipe, nullptr);

  // Far more than the socket buffer holds while the host does not read.
  constexpr int kCount = 1500;
  for (int i = 0; i < kCount; ++i) ASSERT_TRUE(client.SendMsg(MakeSyncFile(i, "name", "url", 0, 0, 0, "")));
  platform::SleepMs(50);
  PipeMsg msg;
  ASSERT_TRUE(ReadRecord(*pipe, msg));
  ASSERT_EQ(PipeMsgCmd(msg), CMD_HELLO);
  for (int i = 0; i < kCount; ++i) {
    ASSERT_TRUE(ReadRecord(*pipe, msg)) << i;
    ASSERT_EQ(ReadSyncFile(msg).syncId, i);
  }
  EXPECT_EQ(listener.restarts, 0);
  client.Stop();
}

TEST(UDRAClient, RecordsWithoutARecordLengthAreRefused) {
  const std::string key = UniqueKey("HLBADLEN");
  FakeHost host(key);
  FakeListener listener;
  UDRAClient client(key);
  ASSERT_TRUE(client.Start(1, &listener));
  PipeMsg bad = MakeTick();
  bad.len = 0;
  EXPECT_FALSE(client.SendMsg(bad));
  bad.len = 824;
  EXPECT_FALSE(client.SendMsg(bad));
  client.Stop();
}

// A received record whose byte count is not its len breaks the connection:
// the host is restarted once and the client reconnects to the same server.
class ReadFailure : public ::testing::TestWithParam<std::vector<uint8_t>> {};

TEST_P(ReadFailure, StartsOneRecoveryAndTheNewPipeWorks) {
  const std::string key = UniqueKey("HLBADREAD");
  FakeHost host(key);
  FakeListener listener;
  listener.restart = [] { return true; };
  UDRAClient client(key);
  ASSERT_TRUE(client.Start(1, &listener));
  auto pipe = host.Accept();
  ASSERT_NE(pipe, nullptr);
  PipeMsg msg;
  ASSERT_TRUE(ReadRecord(*pipe, msg));

  const std::vector<uint8_t>& wire = GetParam();
  ASSERT_TRUE(WriteMessage(*pipe, wire.data(), wire.size()));
  auto second = host.Accept();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(listener.restarts, 1);
  EXPECT_TRUE(listener.received().empty());

  // No new hello on a re-opened connection; records and replies flow.
  ASSERT_TRUE(client.SendMsg(MakeHostFlag(3)));
  ASSERT_TRUE(ReadRecord(*second, msg));
  EXPECT_EQ(PipeMsgCmd(msg), CMD_HOST_FLAG);
  ASSERT_TRUE(WriteRecord(*second, MakeHostEvent(42)));
  ASSERT_TRUE(listener.WaitReceived(1));
  EXPECT_EQ(ReadInt32At(listener.received()[0], 6), 42);
  EXPECT_EQ(listener.restarts, 1);
  client.Stop();
}

std::vector<uint8_t> ShortRecord() {
  const PipeMsg values = MakeHostValues(1, 2);  // len 14, only 10 bytes sent
  const auto* p = reinterpret_cast<const uint8_t*>(&values);
  return std::vector<uint8_t>(p, p + 10);
}

std::vector<uint8_t> OverlongMessage() {
  std::vector<uint8_t> bytes(900, 0);  // longer than any record
  bytes[0] = 0x84;                     // len 900
  bytes[1] = 0x03;
  return bytes;
}

std::vector<uint8_t> HeaderOnly() {
  return {0x06};  // not even a header
}

INSTANTIATE_TEST_SUITE_P(UDRAClient, ReadFailure, ::testing::Values(ShortRecord(), OverlongMessage(), HeaderOnly()));

// The host dies and a new one (a new server under the same name) takes over.
struct Relaunch {
  explicit Relaunch(std::string k) : key(std::move(k)), host(std::make_unique<FakeHost>(key)) {}
  bool Restart() {
    std::lock_guard<std::mutex> guard(mu);
    host.reset();
    host = std::make_unique<FakeHost>(key);
    ++launches;
    return host->ok();
  }
  // Accepts from the host of the given launch (0: the first one).
  std::unique_ptr<platform::MessagePipe> Accept(int launch) {
    if (!WaitUntil([&] { return launches >= launch; })) return nullptr;
    std::lock_guard<std::mutex> guard(mu);
    return host->Accept();
  }
  std::string key;
  std::mutex mu;
  std::unique_ptr<FakeHost> host;
  std::atomic<int> launches{0};
};

TEST(UDRAClientRecovery, ARecordPendingWhenTheHostDiesIsWrittenToTheNewHost) {
  if (test::kOnWindows)
    GTEST_SKIP() << "under Wine a pipe write still pending when the server end closes does not fail, so the "
                    "recovery this test waits for never starts (open, issue 16)";
  Relaunch hosts(UniqueKey("HLCRASH"));
  FakeListener listener;
  listener.restart = [&] { return hosts.Restart(); };
  UDRAClient client(hosts.key);
  ASSERT_TRUE(client.Start(1, &listener));
  auto pipe = hosts.Accept(0);
  ASSERT_NE(pipe, nullptr);

  PipeMsg msg;
  ASSERT_TRUE(ReadRecord(*pipe, msg));  // hello: the listen thread runs
  // The host stops reading: the socket fills and a write stays pending.
  constexpr int kCount = 1500;
  for (int i = 0; i < kCount; ++i) ASSERT_TRUE(client.SendMsg(MakeSyncFile(i, "n", "u", 0, 0, 0, "")));
  platform::SleepMs(200);
  pipe.reset();  // the host dies with unread records

  auto second = hosts.Accept(1);
  ASSERT_NE(second, nullptr);
  // What the old pipe had not taken arrives on the new one, in order and up
  // to the last record: the write pending at the crash was not forgotten.
  ASSERT_TRUE(ReadRecord(*second, msg));
  int expected = ReadSyncFile(msg).syncId;
  EXPECT_GT(expected, 0);
  while (expected < kCount - 1) {
    ASSERT_TRUE(ReadRecord(*second, msg));
    ASSERT_EQ(ReadSyncFile(msg).syncId, ++expected);
  }
  EXPECT_EQ(listener.restarts, 1);
  client.Stop();
}

TEST(UDRAClientRecovery, AWriteFailureRecoversOnceAndTheOldReadIsNotTakenForASecondCrash) {
  if (test::kOnWindows)
    GTEST_SKIP() << "under Wine a pipe write still pending when the server end closes does not fail, so the "
                    "recovery this test waits for never starts (open, issue 16)";
  Relaunch hosts(UniqueKey("HLSTALE"));
  FakeListener listener;
  listener.restart = [&] { return hosts.Restart(); };
  UDRAClient client(hosts.key);
  ASSERT_TRUE(client.Start(1, &listener));
  auto pipe = hosts.Accept(0);
  ASSERT_NE(pipe, nullptr);
  PipeMsg msg;
  ASSERT_TRUE(ReadRecord(*pipe, msg));  // hello

  {
    // While the lock is held the listen thread wakes for the queued record
    // but cannot handle it; the host dies meanwhile, so the write fails
    // while the old pipe's read has also ended.
    std::lock_guard<std::recursive_mutex> guard(listener.m_lock);
    ASSERT_TRUE(client.SendMsg(MakeHostFlag(9)));
    platform::SleepMs(50);
    pipe.reset();
    platform::SleepMs(50);
  }
  auto second = hosts.Accept(1);
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(ReadRecord(*second, msg));
  EXPECT_EQ(PipeMsgCmd(msg), CMD_HOST_FLAG);  // written again on the new pipe

  // A read is armed on the new pipe, and nothing else broke.
  ASSERT_TRUE(WriteRecord(*second, MakeHostEvent(5)));
  ASSERT_TRUE(listener.WaitReceived(1));
  ASSERT_TRUE(client.SendMsg(MakeTick()));
  ASSERT_TRUE(ReadRecordOf(*second, CMD_TICK, msg));
  EXPECT_EQ(listener.restarts, 1);
  client.Stop();
}

TEST(UDRAClientRecovery, AFailedRestartEndsTheThreadAndLaterRecordsAreRefused) {
  const std::string key = UniqueKey("HLFAIL");
  FakeHost host(key);
  FakeListener listener;  // RestartHostApp fails
  UDRAClient client(key);
  ASSERT_TRUE(client.Start(1, &listener));
  auto pipe = host.Accept();
  ASSERT_NE(pipe, nullptr);
  pipe.reset();

  int exitCode = 0;
  ASSERT_TRUE(client.WaitListenThread(10000, &exitCode));
  EXPECT_EQ(exitCode, -1);
  EXPECT_EQ(listener.restarts, 1);
  EXPECT_FALSE(client.SendMsg(MakeTick()));
  EXPECT_FALSE(client.Start(1, &listener));  // still started until Stop
  EXPECT_EQ(host.Accept(100), nullptr);       // no reconnect was tried
  EXPECT_TRUE(client.Stop());
  // After Stop the client can be started again.
  ASSERT_TRUE(client.Start(1, &listener));
  EXPECT_NE(host.Accept(), nullptr);
  client.Stop();
}

TEST(UDRAClientRecovery, StopWaitsForARecoveryThatHoldsTheLock) {
  const std::string key = UniqueKey("HLSTOPREC");
  FakeHost host(key);
  FakeListener listener;
  std::atomic<bool> inRestart{false};
  std::atomic<bool> letGo{false};
  listener.restart = [&] {
    inRestart = true;
    while (!letGo) platform::SleepMs(5);
    return true;
  };
  UDRAClient client(key);
  ASSERT_TRUE(client.Start(1, &listener));
  auto pipe = host.Accept();
  ASSERT_NE(pipe, nullptr);
  pipe.reset();
  ASSERT_TRUE(WaitUntil([&] { return inRestart.load(); }));

  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    client.Stop();
    stopped = true;
  });
  // Stop gives the thread its 5 s and then still waits for the lock.
  platform::SleepMs(UDRAClient::kStopWaitMs + 500);
  EXPECT_FALSE(stopped);
  letGo = true;
  stopper.join();
  EXPECT_TRUE(stopped);
  EXPECT_FALSE(client.SendMsg(MakeTick()));
  // The stop cut the reconnect short: no connection was opened meanwhile.
  EXPECT_EQ(host.Accept(200), nullptr);
}

TEST(LaunchBudget, EachQuickRestartWaitsTwiceAsLongUpToALimit) {
  LaunchBudget budget;
  EXPECT_EQ(budget.DelayBeforeLaunch(5), 0u);
  uint32_t now = 1000;
  budget.Launched(now);
  EXPECT_EQ(budget.DelayBeforeLaunch(now + 200), 800u);
  const uint32_t expected[] = {1000, 2000, 4000, 8000, 16000, 30000, 30000};
  for (uint32_t wait : expected) {
    ASSERT_EQ(budget.DelayBeforeLaunch(now), wait);
    EXPECT_EQ(budget.DelayBeforeLaunch(now + wait), 0u);
    now += wait;
    budget.Launched(now);
  }
  // A host that lived a minute starts the count again; ticks may wrap.
  now += LaunchBudget::kHealthyMs;
  EXPECT_EQ(budget.DelayBeforeLaunch(now), 0u);
  budget.Launched(now);
  EXPECT_EQ(budget.DelayBeforeLaunch(now), 1000u);
  LaunchBudget wrapping;
  wrapping.Launched(0xFFFFFF00u);
  EXPECT_EQ(wrapping.DelayBeforeLaunch(0x100u), 1000u - 0x200u);
}

// A host that ends as soon as it starts: one recovery starts it a few times,
// spaced by the budget, gives up without waiting out the whole reconnect,
// and leaves the lock to the game while it waits.
TEST(UDRAClientRecovery, AHostThatEndsAtOnceIsStartedAFewTimesWithoutHoldingTheLock) {
  const std::string key = UniqueKey("HLDIES");
  auto host = std::make_unique<FakeHost>(key);
  FakeListener listener;
  listener.restart = [] { return true; };  // "started", but no pipe ever appears
  listener.launchEnded = [] { return true; };
  UDRAClient client(key);
  ASSERT_TRUE(client.Start(1, &listener));
  auto pipe = host->Accept();
  ASSERT_NE(pipe, nullptr);
  host.reset();
  pipe.reset();

  ASSERT_TRUE(WaitUntil([&] { return listener.restarts >= 1; }));
  // Between the starts the lock is free for the game's calls.
  int taken = 0;
  for (int i = 0; i < 20 && listener.restarts < UDRAClient::kLaunchesPerRecovery; ++i) {
    if (listener.m_lock.try_lock()) {
      ++taken;
      listener.m_lock.unlock();
    }
    platform::SleepMs(100);
  }
  EXPECT_GT(taken, 5);
  int exitCode = 0;
  ASSERT_TRUE(client.WaitListenThread(10000, &exitCode));
  EXPECT_EQ(exitCode, -1);
  EXPECT_EQ(listener.restarts, UDRAClient::kLaunchesPerRecovery);
  client.Stop();
}

// The background connect reports to a window that the test's thread pumps.
struct ConnectedReport {
  static std::atomic<int> calls;
  static std::atomic<intptr_t> wParam;
  static intptr_t Proc(platform::WindowHandle window, uint32_t message, uintptr_t w, intptr_t l) {
    if (message == MSG_PIPE_CONNECTED) {
      ++calls;
      wParam = static_cast<intptr_t>(w);
      platform::PostQuit(0);
      return 0;
    }
    if (message == platform::kWmTimer) {
      platform::PostQuit(1);  // guard against a report that never comes
      return 0;
    }
    return platform::DefaultWindowProc(window, message, w, l);
  }
};
std::atomic<int> ConnectedReport::calls{0};
std::atomic<intptr_t> ConnectedReport::wParam{-1};

TEST(UDRAClient, BackgroundConnectSendsConnectedToTheWindow) {
  const std::string key = UniqueKey("HLASYNC");
  const std::string windowClass = UniqueKey("HLASYNCWND");
  ConnectedReport::calls = 0;
  ConnectedReport::wParam = -1;
  ASSERT_TRUE(platform::RegisterWindowClass(windowClass, &ConnectedReport::Proc));
  platform::WindowHandle window = platform::CreateMessageWindow(windowClass);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(platform::SetWindowTimer(window, 1, 30000));

  FakeListener listener;
  UDRAClient client(key);
  ASSERT_TRUE(client.StartAsync(&listener, window));
  EXPECT_FALSE(client.Start(1, &listener));  // a connect is under way
  platform::SleepMs(300);                     // the host creates its pipe late
  FakeHost host(key);
  ASSERT_TRUE(host.ok());

  platform::WindowMessage msg;
  while (platform::GetWindowMessage(msg) > 0) platform::DispatchWindowMessage(msg);
  EXPECT_EQ(ConnectedReport::calls, 1);
  EXPECT_EQ(ConnectedReport::wParam, 1);

  auto pipe = host.Accept();
  ASSERT_NE(pipe, nullptr);
  PipeMsg hello;
  ASSERT_TRUE(ReadRecord(*pipe, hello));
  EXPECT_EQ(PipeMsgCmd(hello), CMD_HELLO);
  client.Stop();
  platform::DestroyMessageWindow(window);
  platform::UnregisterWindowClass(windowClass);
}

TEST(UDRAClient, StopCancelsABackgroundConnect) {
  const std::string key = UniqueKey("HLASYNCSTOP");
  FakeListener listener;
  UDRAClient client(key);
  // No window: a report would go nowhere; the point is that Stop ends the
  // connect thread and leaves the client ready for another start.
  ASSERT_TRUE(client.StartAsync(&listener, nullptr));
  platform::SleepMs(150);
  EXPECT_TRUE(client.Stop());
  FakeHost host(key);
  EXPECT_EQ(host.Accept(300), nullptr);  // the cancelled connect never arrived
  ASSERT_TRUE(client.Start(1, &listener));
  EXPECT_NE(host.Accept(), nullptr);
  client.Stop();
}

}  // namespace
}  // namespace udra

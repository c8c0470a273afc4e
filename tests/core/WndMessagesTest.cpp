// The manager's window handler: host records, the connect result and timers.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/ResourceManager.h"
#include "hostlink/PipeMsg.h"
#include "platform/Sync.h"
#include "platform/System.h"
#include "platform/Window.h"
#include "support/OsSupport.h"
#include "support/TempDir.h"

namespace udra {
namespace {

class WndMessagesTest : public ::testing::Test {
 protected:
  // Records what the library posts to the game; the system's own messages
  // (window creation on Windows) get their default handling.
  static intptr_t Record(platform::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message < platform::kWmUser) return platform::DefaultWindowProc(window, message, wParam, lParam);
    received.push_back({message, wParam});
    return 0;
  }
  void SetUp() override {
    test::SetEnv("XDG_CONFIG_HOME", home.path());
    received.clear();
    ASSERT_TRUE(platform::RegisterWindowClass("WndMessagesTestGame", &Record));
    game = platform::CreateMessageWindow("WndMessagesTestGame");
    ASSERT_NE(game, nullptr);
    manager = std::make_unique<ResourceManager>();
  }
  void TearDown() override {
    manager.reset();
    platform::DestroyMessageWindow(game);
    platform::UnregisterWindowClass("WndMessagesTestGame");
  }
  void Pump() {
    platform::WindowMessage msg;
    while (platform::PeekWindowMessage(msg, true)) platform::DispatchWindowMessage(msg);
  }
  void Deliver(const PipeMsg& record) {
    manager->OnWndMsg(nullptr, MSG_PIPE_MESSAGE, NewPipeMsgCopy(record), 0);
  }

  test::TempDir home;
  platform::WindowHandle game = nullptr;
  std::unique_ptr<ResourceManager> manager;
  static std::vector<std::pair<uint32_t, uintptr_t>> received;
};
std::vector<std::pair<uint32_t, uintptr_t>> WndMessagesTest::received;

TEST_F(WndMessagesTest, HostValuesAreStoredAndEventsForwarded) {
  Deliver(MakeHostValues(1234, -5));
  EXPECT_EQ(manager->GetHostValue1(), 1234);
  EXPECT_EQ(manager->GetHostValue2(), -5);

  Deliver(MakeHostEvent(7));  // no callback window yet: nothing is posted
  manager->SetCallbackHWnd(game);
  Deliver(MakeHostEvent(2));
  Pump();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].first, WM_HOST_EVENT);
  EXPECT_EQ(received[0].second, 2u);
}

TEST_F(WndMessagesTest, RecordsThatAreNotForTheLibraryAreFreedWithoutEffect) {
  manager->SetCallbackHWnd(game);
  manager->OnWndMsg(nullptr, MSG_PIPE_MESSAGE, 0, 0);  // no record: nothing to free
  Deliver(MakeSyncFile(1, "a", "http://h/a", 0, 0, 1, "00000000000000000000000000000000"));
  Deliver(MakeTick());
  manager->OnWndMsg(nullptr, 0x1234, 1, 2);
  Pump();
  EXPECT_TRUE(received.empty());
  EXPECT_EQ(manager->GetHostValue1(), 0);
}

TEST_F(WndMessagesTest, FailedBackgroundConnectReportsInitResultZero) {
  manager->SetCallbackHWnd(game);
  manager->OnWndMsg(nullptr, MSG_PIPE_CONNECTED, 0, 0);
  Pump();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].first, WM_INIT_RESULT);
  EXPECT_EQ(received[0].second, 0u);
}

TEST_F(WndMessagesTest, TimersWithoutHostOrStatisticsDoNoHarm) {
  manager->OnWndMsg(nullptr, platform::kWmTimer, 1, 0);  // CMD_TICK is refused: no pipe
  manager->OnWndMsg(nullptr, platform::kWmTimer, 2, 0);
  manager->OnWndMsg(nullptr, platform::kWmTimer, 3, 0);
  EXPECT_EQ(manager->GetHostValue1(), 0);
}

}  // namespace
}  // namespace udra

namespace udra {
namespace {

// Records arrive as wParam of a window message anyone may post: only copies
// the library made and still holds are read and freed.
TEST_F(WndMessagesTest, OnlyOutstandingCopiesAreReadAndFreed) {
  PipeMsg onStack = MakeHostValues(11, 12);
  manager->OnWndMsg(nullptr, MSG_PIPE_MESSAGE, reinterpret_cast<uintptr_t>(&onStack), 0);
  auto* onHeap = new PipeMsg(MakeHostValues(21, 22));
  manager->OnWndMsg(nullptr, MSG_PIPE_MESSAGE, reinterpret_cast<uintptr_t>(onHeap), 0);
  manager->OnWndMsg(nullptr, MSG_PIPE_MESSAGE, 0x10, 0);
  EXPECT_EQ(manager->GetHostValue1(), 0);
  EXPECT_EQ(manager->GetHostValue2(), 0);
  delete onHeap;  // still ours: the handler did not free it

  // A real copy delivered twice (a replayed message) is handled once.
  const uintptr_t copy = NewPipeMsgCopy(MakeHostValues(31, 32));
  ASSERT_TRUE(IsPipeMsgCopy(copy));
  manager->OnWndMsg(nullptr, MSG_PIPE_MESSAGE, copy, 0);
  EXPECT_EQ(manager->GetHostValue1(), 31);
  EXPECT_FALSE(IsPipeMsgCopy(copy));
  Deliver(MakeHostValues(41, 42));
  manager->OnWndMsg(nullptr, MSG_PIPE_MESSAGE, copy, 0);  // freed already: ignored
  EXPECT_EQ(manager->GetHostValue1(), 41);
  FreePipeMsgCopy(reinterpret_cast<uintptr_t>(&onStack));  // not a copy: nothing happens
}

TEST_F(WndMessagesTest, ConnectedNoticeNobodyWaitsForIsIgnored) {
  manager->SetCallbackHWnd(game);
  // No background connect is pending: running FinishInitialize now would
  // start the manager's second stage (here it would fail and report 0).
  manager->OnWndMsg(nullptr, MSG_PIPE_CONNECTED, 1, 0);
  manager->OnWndMsg(nullptr, MSG_PIPE_CONNECTED, 1, 0);
  Pump();
  EXPECT_TRUE(received.empty());
}

// A manager released without a successful Uninitialize (a failed start, or an
// Uninitialize that returned false) leaves nothing that calls back into it.
class ReleaseWithoutUninitializeTest : public WndMessagesTest {
 protected:
  // The hidden window with the manager's two timers running fast.
  platform::WindowHandle StartWindow() {
    platform::WindowHandle wnd = static_cast<UDRAWndMsgProcessor&>(*manager).Initialize();
    EXPECT_NE(wnd, nullptr);
    EXPECT_TRUE(platform::SetWindowTimer(wnd, 1, 1));
    EXPECT_TRUE(platform::SetWindowTimer(wnd, 2, 1));
    return wnd;
  }
  void PumpFor(uint32_t ms) {
    const uint32_t start = platform::TickCount();
    while (platform::TickCount() - start < ms) {
      Pump();
      platform::SleepMs(1);
    }
  }
};

TEST_F(ReleaseWithoutUninitializeTest, OnTheWindowsThreadTheWindowGoes) {
  platform::WindowHandle wnd = StartWindow();
  PumpFor(20);
  const uintptr_t queued = NewPipeMsgCopy(MakeHostValues(1, 2));
  ASSERT_TRUE(platform::PostWindowMessage(wnd, MSG_PIPE_MESSAGE, queued, 0));
  manager.reset();
  EXPECT_FALSE(platform::IsWindowAlive(wnd));
  EXPECT_FALSE(IsPipeMsgCopy(queued));  // freed with the window, not leaked
  PumpFor(30);                          // no timer of the freed manager fires
}

TEST_F(ReleaseWithoutUninitializeTest, OnAnotherThreadTheWindowStaysInert) {
  platform::WindowHandle wnd = StartWindow();
  std::unique_ptr<platform::Thread> releaser = platform::Thread::Start([this] {
    manager.reset();
    return 0;
  });
  ASSERT_TRUE(releaser);
  ASSERT_TRUE(releaser->Wait(10000));
  // The owner thread may still hold the window; it must reach no handler.
  if (platform::IsWindowAlive(wnd)) {
    EXPECT_EQ(platform::GetWindowUserData(wnd), 0);
  }
  PumpFor(30);
  platform::DestroyMessageWindow(wnd);
}

}  // namespace
}  // namespace udra

// The manager's window handler: host records, the connect result and timers.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/ResourceManager.h"
#include "hostlink/PipeMsg.h"
#include "platform/Window.h"
#include "support/TempDir.h"

namespace udra {
namespace {

class WndMessagesTest : public ::testing::Test {
 protected:
  static intptr_t Record(platform::WindowHandle, uint32_t message, uintptr_t wParam, intptr_t) {
    received.push_back({message, wParam});
    return 0;
  }
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
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

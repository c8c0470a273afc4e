#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "ipc/IpcTestSupport.h"
#include "platform/Sync.h"
#include "platform/Window.h"
#include "udra/MessageWindow.h"

namespace udra::platform {
namespace {

using ipctest::UniqueName;
using ipctest::WaitUntil;

constexpr uint32_t kMsgA = kWmUser + 1;
constexpr uint32_t kMsgB = kWmUser + 2;

// Records what reached the procedure of a window of the test class.
struct Seen {
  std::mutex mu;
  std::vector<WindowMessage> messages;
  std::vector<uint32_t> threads;
  std::function<intptr_t(const WindowMessage&)> reply;
};

intptr_t RecordingProc(WindowHandle wnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  auto* seen = reinterpret_cast<Seen*>(GetWindowUserData(wnd));
  if (!seen) return DefaultWindowProc(wnd, msg, wParam, lParam);
  const WindowMessage m{wnd, msg, wParam, lParam};
  {
    std::lock_guard<std::mutex> lock(seen->mu);
    seen->messages.push_back(m);
    seen->threads.push_back(CurrentThreadId());
  }
  if (seen->reply) return seen->reply(m);
  return DefaultWindowProc(wnd, msg, wParam, lParam);
}

class MessageWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(RegisterWindowClass(className_, &RecordingProc)); }
  void TearDown() override { EXPECT_TRUE(UnregisterWindowClass(className_)); }

  WindowHandle NewWindow(Seen* seen) {
    WindowHandle wnd = CreateMessageWindow(className_);
    if (wnd) SetWindowUserData(wnd, reinterpret_cast<intptr_t>(seen));
    return wnd;
  }

  const std::string className_ = UniqueName("udra_ipc_test_class_");
};

// A thread that owns one window and pumps until it gets WM_QUIT.
class PumpThread {
 public:
  PumpThread(const std::string& className, Seen* seen) {
    thread_ = Thread::Start([this, className, seen] {
      WindowHandle wnd = CreateMessageWindow(className);
      SetWindowUserData(wnd, reinterpret_cast<intptr_t>(seen));
      threadId_ = CurrentThreadId();
      window_ = wnd;
      WindowMessage msg;
      while (GetWindowMessage(msg) > 0) DispatchWindowMessage(msg);
      DestroyMessageWindow(wnd);
      return 0;
    });
    WaitUntil([this] { return window_.load() != nullptr; });
  }
  ~PumpThread() { Stop(); }
  // Ends the loop through the window (its procedure posts WM_QUIT on
  // kWmUser + 99, see QuitOn99) and waits for the thread.
  void Stop() {
    if (!thread_) return;
    SendWindowMessage(window_, kWmUser + 99, 0, 0);
    thread_->Wait(kInfinite);
    thread_.reset();
  }
  WindowHandle window() const { return window_; }
  uint32_t threadId() const { return threadId_; }

 private:
  std::unique_ptr<Thread> thread_;
  std::atomic<WindowHandle> window_{nullptr};
  std::atomic<uint32_t> threadId_{0};
};

// The procedure of pump threads ends their loop on kWmUser + 99.
std::function<intptr_t(const WindowMessage&)> QuitOn99(std::function<intptr_t(const WindowMessage&)> inner = {}) {
  return [inner](const WindowMessage& m) -> intptr_t {
    if (m.message == kWmUser + 99) {
      PostQuit(0);
      return 0;
    }
    return inner ? inner(m) : 0;
  };
}

TEST_F(MessageWindowTest, PostedMessagesArriveInOrderOnTheOwnerThread) {
  Seen seen;
  seen.reply = QuitOn99();
  PumpThread owner(className_, &seen);
  auto poster = Thread::Start([&] {
    for (uintptr_t i = 0; i < 100; ++i) EXPECT_TRUE(PostWindowMessage(owner.window(), kMsgA, i, -1));
    return 0;
  });
  ASSERT_TRUE(poster->Wait(kInfinite));
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> lock(seen.mu);
    return seen.messages.size() >= 100;
  }));
  owner.Stop();
  std::lock_guard<std::mutex> lock(seen.mu);
  for (uintptr_t i = 0; i < 100; ++i) {
    EXPECT_EQ(seen.messages[i].message, kMsgA);
    EXPECT_EQ(seen.messages[i].wParam, i);
    EXPECT_EQ(seen.messages[i].lParam, -1);
    EXPECT_EQ(seen.threads[i], owner.threadId());
  }
}

TEST_F(MessageWindowTest, NullWindowPostsToTheCallingThread) {
  ASSERT_TRUE(PostWindowMessage(nullptr, kMsgB, 7, 8));
  WindowMessage msg;
  ASSERT_TRUE(PeekWindowMessage(msg, false));  // left in place
  ASSERT_EQ(GetWindowMessage(msg), 1);
  EXPECT_EQ(msg.window, nullptr);
  EXPECT_EQ(msg.message, kMsgB);
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_EQ(DispatchWindowMessage(msg), 0);
  EXPECT_FALSE(PeekWindowMessage(msg, true));
  PostQuit(3);
  ASSERT_EQ(GetWindowMessage(msg), 0);
  EXPECT_EQ(msg.message, kWmQuit);
  EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(MessageWindowTest, SendFromAnotherThreadWaitsForTheOwnerToHandleIt) {
  Seen seen;
  std::atomic<bool> handled{false};
  seen.reply = QuitOn99([&](const WindowMessage& m) -> intptr_t {
    if (m.message != kMsgA) return 0;
    SleepMs(30);
    handled = true;
    return static_cast<intptr_t>(m.wParam) * 2;
  });
  PumpThread owner(className_, &seen);
  EXPECT_EQ(SendWindowMessage(owner.window(), kMsgA, 21, 0), 42);
  EXPECT_TRUE(handled);
  {
    std::lock_guard<std::mutex> lock(seen.mu);
    ASSERT_FALSE(seen.threads.empty());
    EXPECT_EQ(seen.threads.back(), owner.threadId());
  }
  // A send to its own window runs the procedure at once.
  Seen local;
  local.reply = [](const WindowMessage&) -> intptr_t { return 5; };
  WindowHandle mine = NewWindow(&local);
  EXPECT_EQ(SendWindowMessage(mine, kMsgB, 0, 0), 5);
  EXPECT_TRUE(DestroyMessageWindow(mine));
}

TEST_F(MessageWindowTest, ThreadsSendingToEachOtherDoNotDeadlock) {
  // Each side, while handling kMsgA, sends kMsgB to the other one; both
  // start at the same moment, so each waits in a send while the other's
  // send arrives.
  Seen seenA, seenB;
  std::atomic<WindowHandle> other[2] = {{nullptr}, {nullptr}};
  auto make = [&](int self) {
    return QuitOn99([&, self](const WindowMessage& m) -> intptr_t {
      if (m.message == kMsgA) return SendWindowMessage(other[self].load(), kMsgB, 0, 0) + 1;
      if (m.message == kMsgB) return 100;
      return 0;
    });
  };
  seenA.reply = make(0);
  seenB.reply = make(1);
  PumpThread a(className_, &seenA);
  PumpThread b(className_, &seenB);
  other[0] = b.window();
  other[1] = a.window();
  std::atomic<intptr_t> resultA{0}, resultB{0};
  auto ta = Thread::Start([&] { resultA = SendWindowMessage(a.window(), kMsgA, 0, 0); return 0; });
  auto tb = Thread::Start([&] { resultB = SendWindowMessage(b.window(), kMsgA, 0, 0); return 0; });
  ASSERT_TRUE(ta->Wait(20000));
  ASSERT_TRUE(tb->Wait(20000));
  EXPECT_EQ(resultA, 101);
  EXPECT_EQ(resultB, 101);
}

TEST_F(MessageWindowTest, TimerFiresOnlyWhileTheOwnerPumps) {
  Seen seen;
  WindowHandle wnd = NewWindow(&seen);
  ASSERT_TRUE(SetWindowTimer(wnd, 7, 20));
  SleepMs(150);  // several intervals without pumping
  WindowMessage msg;
  ASSERT_TRUE(PeekWindowMessage(msg, true));
  EXPECT_EQ(msg.window, wnd);
  EXPECT_EQ(msg.message, kWmTimer);
  EXPECT_EQ(msg.wParam, 7u);
  // The missed intervals were not queued up.
  EXPECT_FALSE(PeekWindowMessage(msg, true));
  // The next one comes while the loop waits.
  ASSERT_EQ(GetWindowMessage(msg), 1);
  EXPECT_EQ(msg.message, kWmTimer);
  DispatchWindowMessage(msg);
  {
    std::lock_guard<std::mutex> lock(seen.mu);
    ASSERT_EQ(seen.messages.size(), 1u);
    EXPECT_EQ(seen.messages[0].message, kWmTimer);
  }
  EXPECT_TRUE(KillWindowTimer(wnd, 7));
  SleepMs(60);
  EXPECT_FALSE(PeekWindowMessage(msg, true));
  EXPECT_FALSE(KillWindowTimer(wnd, 7));
  EXPECT_TRUE(DestroyMessageWindow(wnd));
}

TEST_F(MessageWindowTest, DestroyedWindowTakesNoMessagesAndLeavesNoneBehind) {
  Seen seen;
  WindowHandle wnd = NewWindow(&seen);
  ASSERT_TRUE(IsWindowAlive(wnd));
  ASSERT_TRUE(PostWindowMessage(wnd, kMsgA, 1, 0));
  ASSERT_TRUE(PostWindowMessage(wnd, kMsgB, 2, 0));
  ASSERT_TRUE(PostWindowMessage(wnd, kMsgA, 3, 0));
  ASSERT_TRUE(PostWindowMessage(nullptr, kMsgA, 4, 0));

  std::vector<uintptr_t> released;
  static std::vector<uintptr_t>* sink;
  sink = &released;
  EXPECT_EQ(RemovePostedMessages(wnd, kMsgA, [](uintptr_t w) { sink->push_back(w); }), 2u);
  EXPECT_EQ(released, (std::vector<uintptr_t>{1, 3}));

  // Destroying from another thread is refused.
  auto other = Thread::Start([&] { return DestroyMessageWindow(wnd) ? 1 : 0; });
  ASSERT_TRUE(other->Wait(kInfinite));
  EXPECT_EQ(other->exitCode(), 0);

  EXPECT_TRUE(DestroyMessageWindow(wnd));
  EXPECT_FALSE(IsWindowAlive(wnd));
  EXPECT_FALSE(PostWindowMessage(wnd, kMsgA, 5, 0));
  EXPECT_EQ(SendWindowMessage(wnd, kMsgA, 6, 0), 0);
  EXPECT_FALSE(DestroyMessageWindow(wnd));
  EXPECT_EQ(GetWindowUserData(wnd), 0);

  // Only the thread message is left; the window's kMsgB went with it.
  WindowMessage msg;
  ASSERT_TRUE(PeekWindowMessage(msg, true));
  EXPECT_EQ(msg.window, nullptr);
  EXPECT_EQ(msg.wParam, 4u);
  EXPECT_FALSE(PeekWindowMessage(msg, true));
  std::lock_guard<std::mutex> lock(seen.mu);
  for (const auto& m : seen.messages) {
    EXPECT_NE(m.message, kMsgA);
    EXPECT_NE(m.message, kMsgB);
  }
}

TEST_F(MessageWindowTest, ClassWithWindowsCannotBeUnregistered) {
  Seen seen;
  WindowHandle wnd = NewWindow(&seen);
  ASSERT_NE(wnd, nullptr);
  EXPECT_FALSE(RegisterWindowClass(className_, &RecordingProc));
  EXPECT_FALSE(UnregisterWindowClass(className_));
  EXPECT_TRUE(DestroyMessageWindow(wnd));
  EXPECT_EQ(CreateMessageWindow("udra-no-such-class"), nullptr);
}

// The C functions a game on Linux uses.
struct ApiLog {
  std::vector<uint32_t> messages;
};

intptr_t ApiProc(udra_hwnd wnd, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  auto* log = static_cast<ApiLog*>(udra_window_user(wnd));
  if (log) log->messages.push_back(message);
  if (message == UDRA_WM_USER) return static_cast<intptr_t>(wparam) + 1;
  return udra_default_window_proc(wnd, message, wparam, lparam);
}

TEST(MessageWindowApi, GameLoop) {
  ApiLog log;
  udra_hwnd wnd = udra_create_message_window(&ApiProc, &log);
  ASSERT_NE(wnd, nullptr);
  EXPECT_EQ(udra_is_window(wnd), 1);
  EXPECT_EQ(udra_create_message_window(nullptr, nullptr), nullptr);
  ASSERT_EQ(udra_post_message(wnd, UDRA_WM_USER, 41, 0), 1);
  udra_post_quit_message(9);
  udra_msg msg;
  ASSERT_EQ(udra_peek_message(&msg, 0), 1);
  ASSERT_EQ(udra_get_message(&msg), 1);
  EXPECT_EQ(msg.wnd, wnd);
  EXPECT_EQ(udra_dispatch_message(&msg), 42);
  ASSERT_EQ(udra_get_message(&msg), 0);
  EXPECT_EQ(msg.wparam, 9u);
  EXPECT_EQ(udra_peek_message(&msg, 1), 0);
  EXPECT_EQ(udra_destroy_window(wnd), 1);
  EXPECT_EQ(udra_is_window(wnd), 0);
  EXPECT_EQ(udra_window_user(wnd), nullptr);
  EXPECT_EQ(udra_destroy_window(wnd), 0);
  auto has = [&](uint32_t m) { return std::find(log.messages.begin(), log.messages.end(), m) != log.messages.end(); };
  EXPECT_TRUE(has(UDRA_WM_USER));
  EXPECT_TRUE(has(UDRA_WM_DESTROY));
}

}  // namespace
}  // namespace udra::platform

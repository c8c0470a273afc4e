#include <gtest/gtest.h>

#include <cctype>
#include <vector>

#include "core/UDRAWndMsgProcessor.h"
#include "hostlink/PipeMsg.h"
#include "platform/Window.h"

namespace udra {
namespace {

class TestProcessor : public UDRAWndMsgProcessor {
 public:
  void OnWndMsg(platform::WindowHandle wnd, uint32_t msg, uintptr_t wParam, intptr_t) override {
    if (msg < platform::kWmUser) return;  // the system's own messages
    EXPECT_EQ(wnd, m_wnd);
    received.push_back(msg);
    if (msg == MSG_PIPE_MESSAGE) FreePipeMsgCopy(wParam);
  }
  std::vector<uint32_t> received;
};

TEST(WndMsgProcessor, ClassNameIsUniquePerObject) {
  TestProcessor a;
  TestProcessor b;
  // "_UDRA_WND_CLASS_" <unsigned tick count> "_" <signed number>
  const std::string prefix = "_UDRA_WND_CLASS_";
  const std::string& name = a.className();
  ASSERT_EQ(name.compare(0, prefix.size(), prefix), 0) << name;
  const size_t sep = name.find('_', prefix.size());
  ASSERT_NE(sep, std::string::npos) << name;
  const std::string tick = name.substr(prefix.size(), sep - prefix.size());
  ASSERT_FALSE(tick.empty());
  for (char c : tick) EXPECT_TRUE(isdigit(static_cast<unsigned char>(c))) << name;
  EXPECT_NE(a.className(), b.className());
  // The last number is the address of the member, as a signed 32-bit value.
  const std::string tail = a.className().substr(a.className().rfind('_') + 1);
  const auto* member = &a.className();
  EXPECT_EQ(tail, std::to_string(static_cast<int32_t>(reinterpret_cast<uintptr_t>(member))));
}

TEST(WndMsgProcessor, RoutesMessagesToTheHandlerUntilTornDown) {
  std::string className;
  {
    TestProcessor p;
    className = p.className();
    EXPECT_EQ(p.window(), nullptr);
    platform::WindowHandle wnd = p.Initialize();
    ASSERT_NE(wnd, nullptr);
    EXPECT_EQ(p.window(), wnd);
    EXPECT_EQ(platform::GetWindowUserData(wnd), reinterpret_cast<intptr_t>(static_cast<UDRAWndMsgProcessor*>(&p)));

    ASSERT_TRUE(platform::PostWindowMessage(wnd, MSG_PIPE_CONNECTED, 1, 0));
    EXPECT_EQ(platform::SendWindowMessage(wnd, platform::kWmUser + 5, 0, 0), 0);  // default result
    platform::WindowMessage msg;
    while (platform::PeekWindowMessage(msg, true)) platform::DispatchWindowMessage(msg);
    EXPECT_EQ(p.received, (std::vector<uint32_t>{platform::kWmUser + 5, MSG_PIPE_CONNECTED}));

    // Host records still queued when the window goes are freed, not
    // dispatched (the leak checker of sanitizer builds sees a leak).
    const PipeMsg record = MakeHostEvent(12);
    ASSERT_TRUE(platform::PostWindowMessage(wnd, MSG_PIPE_MESSAGE, NewPipeMsgCopy(record), 0));
    ASSERT_TRUE(platform::PostWindowMessage(wnd, MSG_PIPE_MESSAGE, NewPipeMsgCopy(record), 0));
    ASSERT_TRUE(platform::PostWindowMessage(wnd, platform::kWmUser + 6, 0, 0));
    EXPECT_TRUE(p.Uninitialize());
    EXPECT_EQ(p.window(), nullptr);
    EXPECT_FALSE(platform::IsWindowAlive(wnd));
    EXPECT_FALSE(platform::PeekWindowMessage(msg, true));
    EXPECT_EQ(p.received.size(), 2u);
    EXPECT_FALSE(p.Uninitialize());  // no window any more

    // The window can be created again on the same class.
    ASSERT_NE(p.Initialize(), nullptr);
    EXPECT_TRUE(p.Uninitialize());
  }
  // The destructor gave the class name back.
  EXPECT_TRUE(platform::RegisterWindowClass(className, [](platform::WindowHandle, uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; }));
  EXPECT_TRUE(platform::UnregisterWindowClass(className));
}

}  // namespace
}  // namespace udra

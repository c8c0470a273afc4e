#include "core/UDRAWndMsgProcessor.h"

#include <cstdio>

#include "hostlink/PipeMsg.h"
#include "log/Logger.h"
#include "platform/System.h"

namespace udra {
namespace {

unsigned HandleValue(platform::WindowHandle wnd) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(wnd));
}

}  // namespace

UDRAWndMsgProcessor::UDRAWndMsgProcessor() {
  // Unique per object and per start: the tick count and the address of this
  // very member (as a signed 32-bit number).
  char name[64];
  snprintf(name, sizeof name, "_UDRA_WND_CLASS_%u_%d", static_cast<unsigned>(platform::TickCount()),
           static_cast<int>(static_cast<int32_t>(reinterpret_cast<uintptr_t>(&m_className))));
  m_className = name;
  // A failed registration shows when the window cannot be created.
  platform::RegisterWindowClass(m_className, &UDRAWndMsgProcessor::WndProc);
}

UDRAWndMsgProcessor::~UDRAWndMsgProcessor() {
  platform::UnregisterWindowClass(m_className);
}

platform::WindowHandle UDRAWndMsgProcessor::Initialize() {
  m_wnd = CreateWnd();
  WndLogger().Format(Logger::E, "Initialize m_wnd = %u this = %p", HandleValue(m_wnd), static_cast<void*>(this));
  return m_wnd;
}

platform::WindowHandle UDRAWndMsgProcessor::CreateWnd() {
  platform::WindowHandle wnd = platform::CreateMessageWindow(m_className);
  if (!wnd) {
    WndLogger().Format(Logger::E, "CreateWnd 创建窗口出错 errorid = %d this = %p",
                       static_cast<int>(platform::LastWindowError()), static_cast<void*>(this));
    return nullptr;
  }
  if (!platform::SetWindowUserData(wnd, reinterpret_cast<intptr_t>(this))) {
    platform::DestroyMessageWindow(wnd);
    return nullptr;
  }
  return wnd;
}

bool UDRAWndMsgProcessor::Uninitialize() {
  WndLogger().Format(Logger::E, "Uninitialize m_wnd = %u this = %p", HandleValue(m_wnd), static_cast<void*>(this));
  // Messages still in flight reach no handler from now on.
  platform::SetWindowUserData(m_wnd, 0);
  // Host records posted to the window and not yet handled belong to nobody
  // once it is gone: free them here rather than lose them.
  if (m_wnd) platform::RemovePostedMessages(m_wnd, MSG_PIPE_MESSAGE, &FreePipeMsgCopy);
  if (!platform::DestroyMessageWindow(m_wnd)) return false;
  m_wnd = nullptr;
  return true;
}

intptr_t UDRAWndMsgProcessor::WndProc(platform::WindowHandle wnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  auto* processor = reinterpret_cast<UDRAWndMsgProcessor*>(platform::GetWindowUserData(wnd));
  if (processor) {
    // No exception may cross the system's dispatching code.
    try {
      processor->OnWndMsg(wnd, msg, wParam, lParam);
    } catch (...) {
      WndLogger().Format(Logger::E, "OnWndMsg msg = %u threw", static_cast<unsigned>(msg));
    }
  }
  return platform::DefaultWindowProc(wnd, msg, wParam, lParam);
}

}  // namespace udra

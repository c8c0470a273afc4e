// The invisible window that moves host records, the connect result and the
// timers onto the thread that created it. A derived class supplies the
// handler (OnWndMsg); the base registers a class of its own, creates and
// destroys the window, and routes every message through the window's user
// data to the handler.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Window.h"

namespace udra {

class UDRAWndMsgProcessor {
 public:
  UDRAWndMsgProcessor(const UDRAWndMsgProcessor&) = delete;
  UDRAWndMsgProcessor& operator=(const UDRAWndMsgProcessor&) = delete;

  // Called on the window's thread for every message the window receives.
  virtual void OnWndMsg(platform::WindowHandle wnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) = 0;

  // Creates the window on the calling thread; the handle, or null on failure.
  platform::WindowHandle Initialize();
  // Destroys the window; host records still queued for it are freed first.
  bool Uninitialize();

  const std::string& className() const { return m_className; }
  platform::WindowHandle window() const { return m_wnd; }

 protected:
  UDRAWndMsgProcessor();
  ~UDRAWndMsgProcessor();  // not virtual: never deleted through this base

  std::string m_className;
  platform::WindowHandle m_wnd = nullptr;

 private:
  platform::WindowHandle CreateWnd();
  static intptr_t WndProc(platform::WindowHandle wnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);
};

}  // namespace udra

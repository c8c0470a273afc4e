// The window and the pump through the system's own windows (USER32), as a
// Windows game has them: the library posts to any window of the process.
#include "GameWindow.h"

#include "platform/Window.h"

namespace udra::tool {
namespace {

constexpr char kClassName[] = "UDRAToolCallbackWindow";

// The system calls one procedure per class; it forwards to the procedure
// the window was created with (one callback window per process at a time).
udra_wndproc g_proc = nullptr;

intptr_t ClassProc(platform::WindowHandle wnd, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (g_proc) return g_proc(wnd, message, wparam, lparam);
  return platform::DefaultWindowProc(wnd, message, wparam, lparam);
}

}  // namespace

struct GameWindow::Api {};

GameWindow::GameWindow() = default;

GameWindow::~GameWindow() { Destroy(); }

bool GameWindow::Create(const LibraryHandle&, udra_wndproc proc, std::string& error) {
  static const bool registered = platform::RegisterWindowClass(kClassName, &ClassProc);
  if (!registered) {
    error = "cannot register the callback window's class";
    return false;
  }
  g_proc = proc;
  api_ = std::make_unique<Api>();
  handle_ = platform::CreateMessageWindow(kClassName);
  if (!handle_) {
    error = "cannot create the callback window";
    return false;
  }
  return true;
}

void GameWindow::Destroy() {
  if (handle_) platform::DestroyMessageWindow(handle_);
  handle_ = nullptr;
}

bool GameWindow::Peek(udra_msg& msg) {
  platform::WindowMessage m;
  if (!platform::PeekWindowMessage(m, true)) return false;
  msg.wnd = m.window;
  msg.message = m.message;
  msg.wparam = m.wParam;
  msg.lparam = m.lParam;
  return true;
}

void GameWindow::Dispatch(const udra_msg& msg) {
  platform::WindowMessage m;
  m.window = msg.wnd;
  m.message = msg.message;
  m.wParam = msg.wparam;
  m.lParam = msg.lparam;
  platform::DispatchWindowMessage(m);
}

intptr_t GameWindow::Default(udra_hwnd wnd, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return platform::DefaultWindowProc(wnd, message, wparam, lparam);
}

}  // namespace udra::tool

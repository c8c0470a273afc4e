// The public C functions for message windows, on top of the platform's
// message system. Every window of this API belongs to one class whose
// procedure finds the game's procedure through the window's user data.
#include "udra/MessageWindow.h"

#include <mutex>
#include <new>

#include "platform/Window.h"

namespace {

namespace platform = udra::platform;

struct ApiWindow {
  udra_wndproc proc;
  void* user;
};

const char kApiClass[] = "_UDRA_API_WND_CLASS_";

ApiWindow* ApiWindowOf(udra_hwnd wnd) {
  return reinterpret_cast<ApiWindow*>(platform::GetWindowUserData(wnd));
}

intptr_t ApiWndProc(platform::WindowHandle wnd, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  ApiWindow* window = ApiWindowOf(wnd);
  if (!window) return platform::DefaultWindowProc(wnd, message, wParam, lParam);
  return window->proc(wnd, message, wParam, lParam);
}

bool EnsureClass() {
  static std::once_flag once;
  static bool registered = false;
  std::call_once(once, [] { registered = platform::RegisterWindowClass(kApiClass, &ApiWndProc); });
  return registered;
}

}  // namespace

extern "C" {

UDRA_MW_API udra_hwnd udra_create_message_window(udra_wndproc proc, void* user) {
  if (!proc || !EnsureClass()) return nullptr;
  auto* window = new (std::nothrow) ApiWindow{proc, user};
  if (!window) return nullptr;
  platform::WindowHandle wnd = platform::CreateMessageWindow(kApiClass);
  if (!wnd || !platform::SetWindowUserData(wnd, reinterpret_cast<intptr_t>(window))) {
    if (wnd) platform::DestroyMessageWindow(wnd);
    delete window;
    return nullptr;
  }
  return wnd;
}

UDRA_MW_API int udra_destroy_window(udra_hwnd wnd) {
  ApiWindow* window = platform::IsWindowAlive(wnd) ? ApiWindowOf(wnd) : nullptr;
  if (!window || !platform::DestroyMessageWindow(wnd)) return 0;
  delete window;  // the procedure got WM_DESTROY; nothing reaches it any more
  return 1;
}

UDRA_MW_API int udra_is_window(udra_hwnd wnd) {
  return platform::IsWindowAlive(wnd) ? 1 : 0;
}

UDRA_MW_API void* udra_window_user(udra_hwnd wnd) {
  ApiWindow* window = platform::IsWindowAlive(wnd) ? ApiWindowOf(wnd) : nullptr;
  return window ? window->user : nullptr;
}

UDRA_MW_API int udra_get_message(udra_msg* msg) {
  if (!msg) return -1;
  platform::WindowMessage m;
  const int r = platform::GetWindowMessage(m);
  if (r >= 0) *msg = udra_msg{m.window, m.message, m.wParam, m.lParam};
  return r;
}

UDRA_MW_API int udra_peek_message(udra_msg* msg, int remove) {
  if (!msg) return 0;
  platform::WindowMessage m;
  if (!platform::PeekWindowMessage(m, remove != 0)) return 0;
  *msg = udra_msg{m.window, m.message, m.wParam, m.lParam};
  return 1;
}

UDRA_MW_API intptr_t udra_dispatch_message(const udra_msg* msg) {
  if (!msg) return 0;
  return platform::DispatchWindowMessage(platform::WindowMessage{msg->wnd, msg->message, msg->wparam, msg->lparam});
}

UDRA_MW_API void udra_post_quit_message(int exit_code) {
  platform::PostQuit(exit_code);
}

UDRA_MW_API int udra_post_message(udra_hwnd wnd, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return platform::PostWindowMessage(wnd, message, wparam, lparam) ? 1 : 0;
}

UDRA_MW_API intptr_t udra_default_window_proc(udra_hwnd wnd, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return platform::DefaultWindowProc(wnd, message, wparam, lparam);
}

}  // extern "C"

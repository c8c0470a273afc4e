// The message system of the Win32 backend: USER32 itself. Every class is
// registered with one window procedure that forwards to the portable
// procedure registered for the class (found by the class atom).
#include "platform/Window.h"

#include <windows.h>

#include <mutex>
#include <unordered_map>

namespace udra::platform {
namespace {

struct ClassTable {
  std::mutex mu;
  std::unordered_map<ATOM, WindowProc> procs;
  std::unordered_map<std::string, ATOM> atoms;
};

ClassTable& Classes() {
  static ClassTable* table = new ClassTable;
  return *table;
}

WindowProc ProcOf(HWND hwnd) {
  const ATOM atom = static_cast<ATOM>(GetClassLongPtrA(hwnd, GCW_ATOM));
  ClassTable& table = Classes();
  std::lock_guard<std::mutex> lock(table.mu);
  auto it = table.procs.find(atom);
  return it == table.procs.end() ? nullptr : it->second;
}

LRESULT CALLBACK ClassWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowProc proc = ProcOf(hwnd);
  if (!proc) return DefWindowProcA(hwnd, message, wParam, lParam);
  return proc(hwnd, message, wParam, lParam);
}

WindowMessage FromMsg(const MSG& msg) {
  return WindowMessage{msg.hwnd, msg.message, msg.wParam, msg.lParam};
}

}  // namespace

bool RegisterWindowClass(const std::string& className, WindowProc proc) {
  if (className.empty() || !proc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  WNDCLASSA wc = {};
  wc.style = 0;
  wc.lpfnWndProc = ClassWindowProc;
  wc.lpszClassName = className.c_str();
  const ATOM atom = RegisterClassA(&wc);
  if (!atom) return false;
  ClassTable& table = Classes();
  std::lock_guard<std::mutex> lock(table.mu);
  table.procs[atom] = proc;
  table.atoms[className] = atom;
  return true;
}

bool UnregisterWindowClass(const std::string& className) {
  if (!UnregisterClassA(className.c_str(), nullptr)) return false;
  ClassTable& table = Classes();
  std::lock_guard<std::mutex> lock(table.mu);
  auto it = table.atoms.find(className);
  if (it != table.atoms.end()) {
    table.procs.erase(it->second);
    table.atoms.erase(it);
  }
  return true;
}

WindowHandle CreateMessageWindow(const std::string& className) {
  HWND hwnd = CreateWindowExA(0, className.c_str(), "", 0xEFFFFFFF, 0, 0, 0, 0, nullptr, nullptr,
                              nullptr, nullptr);
  if (!hwnd) return nullptr;
  ShowWindow(hwnd, SW_HIDE);
  UpdateWindow(hwnd);
  return hwnd;
}

bool DestroyMessageWindow(WindowHandle window) {
  return DestroyWindow(static_cast<HWND>(window)) == 1;
}

bool IsWindowAlive(WindowHandle window) {
  return window && IsWindow(static_cast<HWND>(window));
}

bool SetWindowUserData(WindowHandle window, intptr_t value) {
  SetLastError(0);
#ifdef _WIN64
  const LONG_PTR previous = SetWindowLongPtrA(static_cast<HWND>(window), GWLP_USERDATA, value);
#else
  const LONG previous = SetWindowLongA(static_cast<HWND>(window), GWL_USERDATA, static_cast<LONG>(value));
#endif
  return !(previous == 0 && GetLastError() != 0);
}

intptr_t GetWindowUserData(WindowHandle window) {
#ifdef _WIN64
  return GetWindowLongPtrA(static_cast<HWND>(window), GWLP_USERDATA);
#else
  return GetWindowLongA(static_cast<HWND>(window), GWL_USERDATA);
#endif
}

uint32_t LastWindowError() {
  return GetLastError();
}

intptr_t DefaultWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return DefWindowProcA(static_cast<HWND>(window), message, wParam, lParam);
}

bool PostWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return PostMessageA(static_cast<HWND>(window), message, wParam, lParam) != 0;
}

intptr_t SendWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return SendMessageA(static_cast<HWND>(window), message, wParam, lParam);
}

int GetWindowMessage(WindowMessage& msg) {
  MSG m = {};
  const BOOL result = GetMessageA(&m, nullptr, 0, 0);
  if (result == -1) return -1;
  msg = FromMsg(m);
  return result ? 1 : 0;
}

bool PeekWindowMessage(WindowMessage& msg, bool remove) {
  MSG m = {};
  if (!PeekMessageA(&m, nullptr, 0, 0, remove ? PM_REMOVE : PM_NOREMOVE)) return false;
  msg = FromMsg(m);
  return true;
}

intptr_t DispatchWindowMessage(const WindowMessage& msg) {
  MSG m = {};
  m.hwnd = static_cast<HWND>(msg.window);
  m.message = msg.message;
  m.wParam = msg.wParam;
  m.lParam = msg.lParam;
  m.time = GetTickCount();
  return DispatchMessageA(&m);
}

void PostQuit(int exitCode) {
  PostQuitMessage(exitCode);
}

bool SetWindowTimer(WindowHandle window, uintptr_t id, uint32_t intervalMs) {
  return SetTimer(static_cast<HWND>(window), id, intervalMs, nullptr) != 0;
}

bool KillWindowTimer(WindowHandle window, uintptr_t id) {
  return KillTimer(static_cast<HWND>(window), id) != 0;
}

size_t RemovePostedMessages(WindowHandle window, uint32_t message, void (*release)(uintptr_t)) {
  size_t count = 0;
  MSG m = {};
  while (PeekMessageA(&m, static_cast<HWND>(window), message, message, PM_REMOVE | PM_NOYIELD)) {
    if (m.message != message) continue;
    if (release) release(m.wParam);
    ++count;
  }
  return count;
}

}  // namespace udra::platform

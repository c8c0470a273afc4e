// Windows as message targets, per-thread message queues and timers.
//
// A window belongs to the thread that created it. Posting a message works
// from any thread; sending from another thread waits until the owner thread
// has handled the message, and while it waits the sender handles messages
// sent to it, so two threads sending to each other do not deadlock. WM_TIMER
// is produced by the owner's loop (get or peek) only while it pumps.
//
// Win32: the USER32 calls themselves. POSIX: the library's own queues with
// the same observable behaviour; window handles are not reused soon.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace udra::platform {

using WindowHandle = void*;
// The procedure of a window class: handle, message id, wParam, lParam.
using WindowProc = intptr_t (*)(WindowHandle, uint32_t, uintptr_t, intptr_t);

struct WindowMessage {
  WindowHandle window = nullptr;  // null for a message posted to the thread
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

// Message ids of the system that the library relies on.
constexpr uint32_t kWmNull = 0x0000;
constexpr uint32_t kWmDestroy = 0x0002;
constexpr uint32_t kWmQuit = 0x0012;
constexpr uint32_t kWmTimer = 0x0113;
constexpr uint32_t kWmUser = 0x0400;

// Registers a class whose windows all run `proc`. False when the name is
// taken or empty.
bool RegisterWindowClass(const std::string& className, WindowProc proc);
// False while windows of the class exist or when it is unknown.
bool UnregisterWindowClass(const std::string& className);

// An invisible top-level message window of `className`, owned by the calling
// thread (Win32: CreateWindowExA, style 0xEFFFFFFF, hidden). Null on failure.
WindowHandle CreateMessageWindow(const std::string& className);
// Sends WM_DESTROY to the procedure, kills the window's timers, drops the
// messages still posted to it and destroys it. Only the owner thread may
// destroy a window.
bool DestroyMessageWindow(WindowHandle window);
bool IsWindowAlive(WindowHandle window);

// The window's user data (GWL_USERDATA). Set returns false on failure.
bool SetWindowUserData(WindowHandle window, intptr_t value);
intptr_t GetWindowUserData(WindowHandle window);

// The error code of the last failed window call of this thread
// (GetLastError on Win32).
uint32_t LastWindowError();

// What the system does with a message nobody handled (DefWindowProcA).
intptr_t DefaultWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Appends a message to the owner's queue; a null window posts to the calling
// thread's queue. False when the window does not exist.
bool PostWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Runs the window's procedure on its owner thread and returns its result;
// 0 when the window does not exist or goes away meanwhile.
intptr_t SendWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Waits for the next posted message of the calling thread (handling sent
// messages meanwhile). 1 with a message, 0 after PostQuit (WM_QUIT), -1 on
// failure.
int GetWindowMessage(WindowMessage& msg);
// Like GetWindowMessage without waiting: true with a message. `remove` false
// leaves it in the queue.
bool PeekWindowMessage(WindowMessage& msg, bool remove);
// Calls the procedure of msg.window (nothing for thread messages) and
// returns its result.
intptr_t DispatchWindowMessage(const WindowMessage& msg);
// Makes the calling thread's loop end: GetWindowMessage returns 0 once the
// messages posted before are taken.
void PostQuit(int exitCode);

// WM_TIMER with wParam = id every `intervalMs` while the owner pumps; setting
// an existing id again restarts it.
bool SetWindowTimer(WindowHandle window, uintptr_t id, uint32_t intervalMs);
bool KillWindowTimer(WindowHandle window, uintptr_t id);

// Takes every message `message` posted to `window` that is still queued out
// of the queue and calls `release` with its wParam; returns how many. Call on
// the owner thread, before the window is destroyed.
size_t RemovePostedMessages(WindowHandle window, uint32_t message, void (*release)(uintptr_t wParam));

}  // namespace udra::platform

// The message system of the POSIX backend: window handles in one process-wide
// table, one queue per thread (created on first use), posted and sent
// messages and timers with the observable behaviour of USER32.
#include "platform/Window.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace udra::platform {
namespace {

using Clock = std::chrono::steady_clock;

// The Win32 error numbers, so that callers log the same codes everywhere.
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidWindowHandle = 1400;
constexpr uint32_t kErrorCannotFindClass = 1407;
constexpr uint32_t kErrorClassExists = 1410;
constexpr uint32_t kErrorClassHasWindows = 1412;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kTimerMinimumMs = 10;  // USER_TIMER_MINIMUM

thread_local uint32_t t_lastError = 0;

bool Fail(uint32_t code) {
  t_lastError = code;
  return false;
}

struct ThreadQueue;

// A message sent from another thread; lives on the sender's stack until
// `done` is set under the sender's queue lock.
struct SentMessage {
  WindowMessage msg;
  std::shared_ptr<ThreadQueue> sender;
  intptr_t result = 0;
  bool done = false;
};

struct Timer {
  WindowHandle window;
  uintptr_t id;
  uint32_t intervalMs;
  Clock::time_point due;
};

struct ThreadQueue {
  std::mutex mu;
  std::condition_variable cv;  // waited on by the owner thread only
  std::deque<WindowMessage> posted;
  std::deque<SentMessage*> sent;
  std::vector<Timer> timers;
  bool quit = false;
  int quitCode = 0;
  bool closed = false;
};

struct Window {
  WindowHandle handle = nullptr;
  WindowProc proc = nullptr;
  std::string className;
  std::atomic<intptr_t> userData{0};
  std::atomic<bool> alive{true};  // cleared under queue->mu
  std::shared_ptr<ThreadQueue> queue;
};

struct WindowClass {
  WindowProc proc = nullptr;
  size_t windows = 0;
};

struct Registry {
  std::mutex mu;
  std::unordered_map<std::string, WindowClass> classes;
  std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
  uint32_t lastHandle = 0xFFFF;
};

// Never destroyed: threads may still use it while static objects go away.
Registry& Reg() {
  static Registry* registry = new Registry;
  return *registry;
}

void CloseQueue(const std::shared_ptr<ThreadQueue>& queue);

// The calling thread's queue; a thread that ends takes its windows with it.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> queue;
  ~QueueHolder() {
    if (queue) CloseQueue(queue);
  }
};
thread_local QueueHolder t_queue;

std::shared_ptr<ThreadQueue> CurrentQueue() {
  if (!t_queue.queue) t_queue.queue = std::make_shared<ThreadQueue>();
  return t_queue.queue;
}

std::shared_ptr<Window> Lookup(WindowHandle handle) {
  if (!handle) return nullptr;
  Registry& reg = Reg();
  std::lock_guard<std::mutex> lock(reg.mu);
  auto it = reg.windows.find(reinterpret_cast<uintptr_t>(handle));
  if (it == reg.windows.end() || !it->second->alive) return nullptr;
  return it->second;
}

void Complete(SentMessage* sent, intptr_t result) {
  std::shared_ptr<ThreadQueue> sender = sent->sender;  // keeps its lock alive
  std::lock_guard<std::mutex> lock(sender->mu);
  sent->result = result;
  sent->done = true;
  sender->cv.notify_all();
  // `sent` may be gone as soon as the lock is released.
}

// Runs a message sent from another thread on this (the owner) thread.
void HandleSent(SentMessage* sent) {
  std::shared_ptr<Window> window = Lookup(sent->msg.window);
  intptr_t result = 0;
  if (window && window->queue == t_queue.queue) {
    const WindowMessage& m = sent->msg;
    result = window->proc(m.window, m.message, m.wParam, m.lParam);
  }
  Complete(sent, result);
}

void CloseQueue(const std::shared_ptr<ThreadQueue>& queue) {
  std::vector<std::shared_ptr<Window>> owned;
  {
    Registry& reg = Reg();
    std::lock_guard<std::mutex> lock(reg.mu);
    for (auto it = reg.windows.begin(); it != reg.windows.end();) {
      if (it->second->queue == queue) {
        owned.push_back(it->second);
        auto cls = reg.classes.find(it->second->className);
        if (cls != reg.classes.end() && cls->second.windows > 0) --cls->second.windows;
        it = reg.windows.erase(it);
      } else {
        ++it;
      }
    }
  }
  std::deque<SentMessage*> pending;
  {
    std::lock_guard<std::mutex> lock(queue->mu);
    for (auto& w : owned) w->alive = false;
    queue->closed = true;
    queue->posted.clear();
    queue->timers.clear();
    pending.swap(queue->sent);
  }
  for (SentMessage* sent : pending) Complete(sent, 0);
}

// The earliest timer, or timers.end().
std::vector<Timer>::iterator NextTimer(ThreadQueue& q) {
  return std::min_element(q.timers.begin(), q.timers.end(),
                          [](const Timer& a, const Timer& b) { return a.due < b.due; });
}

// The message loop's one step. Returns 1 with a message, 0 with WM_QUIT and
// -1 when nothing came (only without waiting).
int Fetch(WindowMessage& msg, bool wait, bool remove) {
  std::shared_ptr<ThreadQueue> q = CurrentQueue();
  std::unique_lock<std::mutex> lock(q->mu);
  for (;;) {
    if (!q->sent.empty()) {
      SentMessage* sent = q->sent.front();
      q->sent.pop_front();
      lock.unlock();
      HandleSent(sent);
      lock.lock();
      continue;
    }
    if (!q->posted.empty()) {
      msg = q->posted.front();
      if (remove) q->posted.pop_front();
      return 1;
    }
    if (q->quit) {
      msg = WindowMessage{nullptr, kWmQuit, static_cast<uintptr_t>(q->quitCode), 0};
      if (remove) q->quit = false;
      return 0;
    }
    auto timer = NextTimer(*q);
    const Clock::time_point now = Clock::now();
    if (timer != q->timers.end() && timer->due <= now) {
      msg = WindowMessage{timer->window, kWmTimer, timer->id, 0};
      if (remove) timer->due = now + std::chrono::milliseconds(timer->intervalMs);
      return 1;
    }
    if (!wait) return -1;
    if (timer != q->timers.end()) {
      q->cv.wait_until(lock, timer->due);
    } else {
      q->cv.wait(lock);
    }
  }
}

}  // namespace

bool RegisterWindowClass(const std::string& className, WindowProc proc) {
  if (className.empty() || !proc) return Fail(kErrorInvalidParameter);
  Registry& reg = Reg();
  std::lock_guard<std::mutex> lock(reg.mu);
  if (reg.classes.count(className)) return Fail(kErrorClassExists);
  reg.classes[className] = WindowClass{proc, 0};
  return true;
}

bool UnregisterWindowClass(const std::string& className) {
  Registry& reg = Reg();
  std::lock_guard<std::mutex> lock(reg.mu);
  auto it = reg.classes.find(className);
  if (it == reg.classes.end()) return Fail(kErrorCannotFindClass);
  if (it->second.windows) return Fail(kErrorClassHasWindows);
  reg.classes.erase(it);
  return true;
}

WindowHandle CreateMessageWindow(const std::string& className) {
  auto window = std::make_shared<Window>();
  window->queue = CurrentQueue();
  window->className = className;
  Registry& reg = Reg();
  std::lock_guard<std::mutex> lock(reg.mu);
  auto cls = reg.classes.find(className);
  if (cls == reg.classes.end()) {
    Fail(kErrorCannotFindClass);
    return nullptr;
  }
  window->proc = cls->second.proc;
  // Handles count upwards and skip those in use: one comes back only after
  // 2^32 creations.
  uint32_t value = reg.lastHandle;
  do {
    ++value;
  } while (value == 0 || reg.windows.count(value));
  reg.lastHandle = value;
  window->handle = reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(value));
  reg.windows[value] = window;
  ++cls->second.windows;
  return window->handle;
}

bool DestroyMessageWindow(WindowHandle handle) {
  std::shared_ptr<Window> window = Lookup(handle);
  if (!window) return Fail(kErrorInvalidWindowHandle);
  if (window->queue != t_queue.queue) return Fail(kErrorAccessDenied);
  window->proc(handle, kWmDestroy, 0, 0);
  {
    std::lock_guard<std::mutex> lock(window->queue->mu);
    if (!window->alive) return Fail(kErrorInvalidWindowHandle);  // destroyed inside WM_DESTROY
    window->alive = false;
    auto& posted = window->queue->posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(),
                                [handle](const WindowMessage& m) { return m.window == handle; }),
                 posted.end());
    auto& timers = window->queue->timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [handle](const Timer& t) { return t.window == handle; }),
                 timers.end());
  }
  Registry& reg = Reg();
  std::lock_guard<std::mutex> lock(reg.mu);
  reg.windows.erase(reinterpret_cast<uintptr_t>(handle));
  auto cls = reg.classes.find(window->className);
  if (cls != reg.classes.end() && cls->second.windows > 0) --cls->second.windows;
  return true;
}

bool IsWindowAlive(WindowHandle handle) {
  return Lookup(handle) != nullptr;
}

bool SetWindowUserData(WindowHandle handle, intptr_t value) {
  std::shared_ptr<Window> window = Lookup(handle);
  if (!window) return Fail(kErrorInvalidWindowHandle);
  window->userData = value;
  return true;
}

intptr_t GetWindowUserData(WindowHandle handle) {
  std::shared_ptr<Window> window = Lookup(handle);
  if (!window) return Fail(kErrorInvalidWindowHandle);
  return window->userData;
}

uint32_t LastWindowError() {
  return t_lastError;
}

intptr_t DefaultWindowProc(WindowHandle, uint32_t, uintptr_t, intptr_t) {
  return 0;
}

bool PostWindowMessage(WindowHandle handle, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::shared_ptr<Window> window;
  std::shared_ptr<ThreadQueue> queue;
  if (handle) {
    window = Lookup(handle);
    if (!window) return Fail(kErrorInvalidWindowHandle);
    queue = window->queue;
  } else {
    queue = CurrentQueue();
  }
  std::lock_guard<std::mutex> lock(queue->mu);
  // Checked again under the queue lock: a window destroyed meanwhile takes
  // no more messages, so the caller learns that its message was not queued.
  if (queue->closed || (window && !window->alive)) return Fail(kErrorInvalidWindowHandle);
  queue->posted.push_back(WindowMessage{handle, message, wParam, lParam});
  queue->cv.notify_all();
  return true;
}

intptr_t SendWindowMessage(WindowHandle handle, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::shared_ptr<Window> window = Lookup(handle);
  if (!window) return Fail(kErrorInvalidWindowHandle);
  std::shared_ptr<ThreadQueue> me = CurrentQueue();
  if (window->queue == me) return window->proc(handle, message, wParam, lParam);

  SentMessage sent;
  sent.msg = WindowMessage{handle, message, wParam, lParam};
  sent.sender = me;
  {
    std::lock_guard<std::mutex> lock(window->queue->mu);
    if (window->queue->closed || !window->alive) return Fail(kErrorInvalidWindowHandle);
    window->queue->sent.push_back(&sent);
    window->queue->cv.notify_all();
  }
  // Wait, handling what other threads send to this one meanwhile.
  std::unique_lock<std::mutex> lock(me->mu);
  while (!sent.done) {
    if (!me->sent.empty()) {
      SentMessage* incoming = me->sent.front();
      me->sent.pop_front();
      lock.unlock();
      HandleSent(incoming);
      lock.lock();
      continue;
    }
    me->cv.wait(lock);
  }
  return sent.result;
}

int GetWindowMessage(WindowMessage& msg) {
  return Fetch(msg, true, true);
}

bool PeekWindowMessage(WindowMessage& msg, bool remove) {
  return Fetch(msg, false, remove) >= 0;
}

intptr_t DispatchWindowMessage(const WindowMessage& msg) {
  std::shared_ptr<Window> window = Lookup(msg.window);
  if (!window || window->queue != t_queue.queue) return 0;
  return window->proc(msg.window, msg.message, msg.wParam, msg.lParam);
}

void PostQuit(int exitCode) {
  std::shared_ptr<ThreadQueue> q = CurrentQueue();
  std::lock_guard<std::mutex> lock(q->mu);
  q->quit = true;
  q->quitCode = exitCode;
  q->cv.notify_all();
}

bool SetWindowTimer(WindowHandle handle, uintptr_t id, uint32_t intervalMs) {
  std::shared_ptr<Window> window = Lookup(handle);
  if (!window) return Fail(kErrorInvalidWindowHandle);
  intervalMs = std::max(intervalMs, kTimerMinimumMs);
  const Clock::time_point due = Clock::now() + std::chrono::milliseconds(intervalMs);
  ThreadQueue& q = *window->queue;
  std::lock_guard<std::mutex> lock(q.mu);
  if (!window->alive) return Fail(kErrorInvalidWindowHandle);
  auto it = std::find_if(q.timers.begin(), q.timers.end(),
                         [&](const Timer& t) { return t.window == handle && t.id == id; });
  if (it != q.timers.end()) {
    it->intervalMs = intervalMs;
    it->due = due;
  } else {
    q.timers.push_back(Timer{handle, id, intervalMs, due});
  }
  q.cv.notify_all();
  return true;
}

bool KillWindowTimer(WindowHandle handle, uintptr_t id) {
  std::shared_ptr<Window> window = Lookup(handle);
  if (!window) return Fail(kErrorInvalidWindowHandle);
  ThreadQueue& q = *window->queue;
  std::lock_guard<std::mutex> lock(q.mu);
  auto it = std::find_if(q.timers.begin(), q.timers.end(),
                         [&](const Timer& t) { return t.window == handle && t.id == id; });
  if (it == q.timers.end()) return Fail(kErrorInvalidParameter);
  q.timers.erase(it);
  return true;
}

size_t RemovePostedMessages(WindowHandle handle, uint32_t message, void (*release)(uintptr_t)) {
  std::shared_ptr<Window> window = Lookup(handle);
  std::shared_ptr<ThreadQueue> q = window ? window->queue : CurrentQueue();
  std::vector<uintptr_t> taken;
  {
    std::lock_guard<std::mutex> lock(q->mu);
    auto& posted = q->posted;
    auto keep = std::stable_partition(posted.begin(), posted.end(), [&](const WindowMessage& m) {
      return !(m.window == handle && m.message == message);
    });
    for (auto it = keep; it != posted.end(); ++it) taken.push_back(it->wParam);
    posted.erase(keep, posted.end());
  }
  if (release) {
    for (uintptr_t wParam : taken) release(wParam);
  }
  return taken.size();
}

}  // namespace udra::platform

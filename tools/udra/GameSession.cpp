#include "GameSession.h"

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace udra::tool {

namespace {

// Callback windows and their sessions; the procedure is a plain function.
std::mutex g_sessionsLock;
std::map<udra_hwnd, GameSession*> g_sessions;
GameSession* g_creating = nullptr;  // the session whose window is being created

using Clock = std::chrono::steady_clock;

}  // namespace

GameSession::~GameSession() {
  Shutdown();
  const udra_hwnd window = window_.handle();
  if (window) {
    {
      std::lock_guard<std::mutex> guard(g_sessionsLock);
      g_sessions.erase(window);
    }
    window_.Destroy();
  }
}

bool GameSession::Open(const std::string& folder, std::string& error) {
  if (!library_.Open(folder, error)) return false;
  {
    std::lock_guard<std::mutex> guard(g_sessionsLock);
    g_creating = this;
  }
  const bool created = window_.Create(library_, &GameSession::CallbackProc, error);
  std::lock_guard<std::mutex> guard(g_sessionsLock);
  g_creating = nullptr;
  if (!created) return false;
  g_sessions[window_.handle()] = this;
  manager()->SetCallbackHWnd(window_.handle());
  return true;
}

intptr_t GameSession::CallbackProc(udra_hwnd wnd, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  GameSession* session = nullptr;
  {
    std::lock_guard<std::mutex> guard(g_sessionsLock);
    auto it = g_sessions.find(wnd);
    session = it != g_sessions.end() ? it->second : g_creating;
  }
  if (!session) return 0;
  if (message == UDRA_WM_INIT_RESULT) session->initResult_ = int32_t(wparam);
  if (message == UDRA_WM_SYNC_RETURN) {
    session->lastSyncReturn_ = int32_t(wparam);
    session->syncReturns_.push_back(int32_t(wparam));
  }
  if (message == UDRA_WM_HOST_EVENT) session->hostEvents_.push_back(wparam);
  return session->window_.Default(wnd, message, wparam, lparam);
}

bool GameSession::PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs,
                            const std::function<bool()>& onTick) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  auto nextTick = Clock::now();
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    udra_msg msg;
    bool any = false;
    while (window_.Peek(msg)) {
      window_.Dispatch(msg);
      any = true;
    }
    if (onTick && Clock::now() >= nextTick) {
      nextTick = Clock::now() + std::chrono::milliseconds(100);
      if (!onTick()) return false;
    }
    if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool GameSession::Initialize(const std::string& urlRoot, uint32_t cacheLimit, uint32_t timeoutMs,
                             std::string& error) {
  initResult_ = -1;
  if (!manager()->Initialize(urlRoot.c_str(), int32_t(cacheLimit))) {
    error = "Initialize failed (see the log in the installation's Logs folder)";
    return false;
  }
  initialized_ = true;
  if (!PumpUntil([this] { return initResult_ != -1; }, timeoutMs)) {
    error = "no WM_INIT_RESULT in time";
    return false;
  }
  if (initResult_ != 1) {
    error = "start-up failed (WM_INIT_RESULT 0)";
    return false;
  }
  return true;
}

bool GameSession::Sync(const std::string& path, int32_t priority, uint32_t timeoutMs,
                       const std::function<bool(const SyncInfo&)>& progress, SyncInfo& info, int32_t* syncId) {
  std::memset(&info, 0, sizeof info);
  lastSyncReturn_ = -1;
  const int32_t id = manager()->StartSync(path.c_str(), window_.handle(), priority, 0);
  if (syncId) *syncId = id;
  if (id == -1) return false;
  bool cancelled = false;
  auto tick = [&] {
    SyncInfo now{};
    manager()->GetSyncInfo(id, &now);
    if (progress && !cancelled && !progress(now)) {
      manager()->CancelSync(id);
      cancelled = true;
    }
    return true;
  };
  const bool returned = PumpUntil([&] { return lastSyncReturn_ == id; }, timeoutMs, tick);
  manager()->GetSyncInfo(id, &info);
  return returned;
}

bool GameSession::Info(UDRAManagerInfo& info) const {
  auto get = reinterpret_cast<UDRA_GetManagerInfoFn>(library_.Symbol("udra_get_manager_info"));
  return get && get(library_.manager(), &info) == 0;
}

bool GameSession::Shutdown() {
  if (!initialized_) return true;
  initialized_ = false;
  return manager()->Uninitialize();
}

}  // namespace udra::tool

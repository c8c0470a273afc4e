// Plays the game's part: loads the library from an installation folder,
// gives it a callback window, and pumps window messages on the calling
// thread (the one that calls Initialize) while it waits for notifications.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "GameWindow.h"
#include "LibraryHandle.h"
#include "udra/Diagnostics.h"
#include "udra/MessageWindow.h"

namespace udra::tool {

class GameSession {
 public:
  GameSession() = default;
  ~GameSession();
  GameSession(const GameSession&) = delete;
  GameSession& operator=(const GameSession&) = delete;

  // Loads the library and creates the callback window.
  bool Open(const std::string& folder, std::string& error);
  // Initialize, then pumps until WM_INIT_RESULT (at most `timeoutMs`).
  bool Initialize(const std::string& urlRoot, uint32_t cacheLimit, uint32_t timeoutMs, std::string& error);
  // Starts a sync and pumps until its WM_SYNC_RETURN. `progress` is called
  // about every 100 ms with the current record; returning false cancels the
  // sync. The final record is left in `info`; false on time-out or when the
  // path is not catalogued. `syncId`, when given, receives the id (-1 when
  // StartSync refused the path).
  bool Sync(const std::string& path, int32_t priority, uint32_t timeoutMs,
            const std::function<bool(const SyncInfo&)>& progress, SyncInfo& info, int32_t* syncId = nullptr);
  // Uninitialize (once).
  bool Shutdown();

  // Dispatches messages until `done` is true or the time runs out; `onTick`
  // runs about every 100 ms and stops the wait when it returns false.
  bool PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs,
                 const std::function<bool()>& onTick = nullptr);
  // Sync ids of every WM_SYNC_RETURN dispatched so far, in order.
  const std::vector<int32_t>& syncReturns() const { return syncReturns_; }
  // wParams of every WM_HOST_EVENT dispatched so far.
  const std::vector<uintptr_t>& hostEvents() const { return hostEvents_; }
  udra_hwnd window() const { return window_.handle(); }

  IResourceManager* manager() const { return library_.manager(); }
  // An export of the loaded library, null when it has none of that name.
  void* Symbol(const char* name) const { return library_.Symbol(name); }
  // What the manager was built from (udra_get_manager_info).
  bool Info(UDRAManagerInfo& info) const;
  int32_t initResult() const { return initResult_; }

 private:
  static intptr_t CallbackProc(udra_hwnd wnd, uint32_t message, uintptr_t wparam, intptr_t lparam);

  LibraryHandle library_;
  GameWindow window_;
  bool initialized_ = false;
  int32_t initResult_ = -1;
  int32_t lastSyncReturn_ = -1;
  std::vector<int32_t> syncReturns_;
  std::vector<uintptr_t> hostEvents_;
};

}  // namespace udra::tool

// Round trips through the library's message system on the calling thread
// (the game's thread, the one that called Initialize): a posted message to
// its dispatch, and StartSync of a file already present to its
// WM_SYNC_RETURN. The pump spins on udra_peek_message, so the figures are
// the system's own latency, not a pump's sleep.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Module.h"
#include "udra/IResourceManager.h"
#include "udra/MessageWindow.h"

namespace udra::sysbench {

class MessageProbe {
 public:
  MessageProbe() = default;
  ~MessageProbe();
  MessageProbe(const MessageProbe&) = delete;
  MessageProbe& operator=(const MessageProbe&) = delete;

  // Binds the message functions of the (already loaded) library at
  // `libraryPath` and creates the probe's window.
  bool Open(const std::string& libraryPath, std::string& error);
  udra_hwnd window() const { return window_; }

  // Seconds from posting a message to the probe's window to its dispatch;
  // negative on time-out.
  double PostRoundTrip();
  // Seconds from StartSync(path) with the probe's window to the dispatch of
  // its WM_SYNC_RETURN; negative when the sync could not start or timed out.
  // `state` receives the sync's final state.
  double SyncRoundTrip(IResourceManager* manager, const std::string& path, int32_t& state);

 private:
  static intptr_t Procedure(udra_hwnd wnd, uint32_t message, uintptr_t wparam, intptr_t lparam);
  // Dispatches every message of the thread until `*flag` is set; false after 10 s.
  bool PumpUntilSet(const bool* flag);

  static constexpr uint32_t kPing = UDRA_WM_USER + 0x77;

  platform::ModuleHandle module_ = nullptr;
  decltype(&udra_create_message_window) create_ = nullptr;
  decltype(&udra_destroy_window) destroy_ = nullptr;
  decltype(&udra_peek_message) peek_ = nullptr;
  decltype(&udra_dispatch_message) dispatch_ = nullptr;
  decltype(&udra_post_message) post_ = nullptr;
  decltype(&udra_default_window_proc) default_ = nullptr;
  udra_hwnd window_ = nullptr;

  uintptr_t expectPing_ = 0;
  bool pinged_ = false;
  int32_t expectSync_ = -1;
  bool synced_ = false;
  uintptr_t nextPing_ = 1;
};

}  // namespace udra::sysbench

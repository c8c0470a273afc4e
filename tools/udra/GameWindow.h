// The callback window a game hands the library, and the message pump of the
// thread that owns it. Windows games use USER32 for both; on Linux the
// library brings its own message system and exports the functions that reach
// it, so there the window and the pump go through the loaded library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "LibraryHandle.h"
#include "udra/MessageWindow.h"

namespace udra::tool {

class GameWindow {
 public:
  GameWindow();
  ~GameWindow();
  GameWindow(const GameWindow&) = delete;
  GameWindow& operator=(const GameWindow&) = delete;

  // Creates a window owned by the calling thread whose procedure is `proc`.
  bool Create(const LibraryHandle& library, udra_wndproc proc, std::string& error);
  // Destroys the window (once; the owner thread only).
  void Destroy();
  udra_hwnd handle() const { return handle_; }

  // Takes the calling thread's next message without waiting.
  bool Peek(udra_msg& msg);
  void Dispatch(const udra_msg& msg);
  // What a procedure returns for a message it leaves to the system.
  intptr_t Default(udra_hwnd wnd, uint32_t message, uintptr_t wparam, intptr_t lparam);

 private:
  struct Api;  // defined by the backend
  std::unique_ptr<Api> api_;
  udra_hwnd handle_ = nullptr;
};

}  // namespace udra::tool

// The window and the pump through the library's own message system.
#include "GameWindow.h"

namespace udra::tool {

struct GameWindow::Api {
  decltype(&udra_create_message_window) createWindow = nullptr;
  decltype(&udra_destroy_window) destroyWindow = nullptr;
  decltype(&udra_peek_message) peekMessage = nullptr;
  decltype(&udra_dispatch_message) dispatchMessage = nullptr;
  decltype(&udra_default_window_proc) defaultProc = nullptr;
};

GameWindow::GameWindow() = default;

GameWindow::~GameWindow() { Destroy(); }

bool GameWindow::Create(const LibraryHandle& library, udra_wndproc proc, std::string& error) {
  auto api = std::make_unique<Api>();
  api->createWindow = reinterpret_cast<decltype(api->createWindow)>(library.Symbol("udra_create_message_window"));
  api->destroyWindow = reinterpret_cast<decltype(api->destroyWindow)>(library.Symbol("udra_destroy_window"));
  api->peekMessage = reinterpret_cast<decltype(api->peekMessage)>(library.Symbol("udra_peek_message"));
  api->dispatchMessage = reinterpret_cast<decltype(api->dispatchMessage)>(library.Symbol("udra_dispatch_message"));
  api->defaultProc = reinterpret_cast<decltype(api->defaultProc)>(library.Symbol("udra_default_window_proc"));
  if (!api->createWindow || !api->destroyWindow || !api->peekMessage || !api->dispatchMessage || !api->defaultProc) {
    error = "the library lacks the message-window functions";
    return false;
  }
  api_ = std::move(api);
  handle_ = api_->createWindow(proc, nullptr);
  if (!handle_) {
    error = "cannot create the callback window";
    return false;
  }
  return true;
}

void GameWindow::Destroy() {
  if (handle_ && api_) api_->destroyWindow(handle_);
  handle_ = nullptr;
}

bool GameWindow::Peek(udra_msg& msg) { return api_ && api_->peekMessage(&msg, 1) > 0; }

void GameWindow::Dispatch(const udra_msg& msg) {
  if (api_) api_->dispatchMessage(&msg);
}

intptr_t GameWindow::Default(udra_hwnd wnd, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return api_ ? api_->defaultProc(wnd, message, wparam, lparam) : 0;
}

}  // namespace udra::tool

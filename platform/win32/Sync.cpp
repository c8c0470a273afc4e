#include "platform/Sync.h"

#include <windows.h>

#include "platform/win32/NativeWait.h"

namespace udra::platform {

Event::Event() : native_(std::make_unique<detail::NativeWait>()) {
  native_->handle = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

Event::~Event() {
  if (native_->handle) CloseHandle(native_->handle);
}

bool Event::valid() const {
  return native_->handle != nullptr;
}

bool Event::Set() {
  return native_->handle && SetEvent(native_->handle);
}

bool Event::Reset() {
  return native_->handle && ResetEvent(native_->handle);
}

int WaitForAny(Waitable* const* objects, size_t count, uint32_t timeoutMs) {
  if (!objects || count == 0 || count > kMaxWaitObjects) return kWaitFailed;
  HANDLE handles[kMaxWaitObjects];
  for (size_t i = 0; i < count; ++i) {
    detail::NativeWait* native = objects[i] ? objects[i]->nativeWait() : nullptr;
    if (!native || !native->handle) return kWaitFailed;
    handles[i] = native->handle;
  }
  const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE, timeoutMs);
  if (result < WAIT_OBJECT_0 + count) return static_cast<int>(result - WAIT_OBJECT_0);
  if (result == WAIT_TIMEOUT) return kWaitTimeout;
  return kWaitFailed;
}

struct Thread::State {
  HANDLE handle = nullptr;
  std::function<int()> body;
};

namespace {

DWORD WINAPI ThreadMain(LPVOID parameter) {
  // The thread holds its own reference, so the object may go first.
  auto* holder = static_cast<std::shared_ptr<Thread::State>*>(parameter);
  int code = -1;
  try {
    code = (*holder)->body();
  } catch (...) {
  }
  delete holder;
  return static_cast<DWORD>(code);
}

}  // namespace

std::unique_ptr<Thread> Thread::Start(std::function<int()> body) {
  auto state = std::make_shared<State>();
  state->body = std::move(body);
  auto* holder = new std::shared_ptr<State>(state);
  state->handle = CreateThread(nullptr, 0, &ThreadMain, holder, 0, nullptr);
  if (!state->handle) {
    delete holder;
    return nullptr;
  }
  return std::unique_ptr<Thread>(new Thread(state));
}

Thread::Thread(std::shared_ptr<State> state) : state_(std::move(state)) {}

Thread::~Thread() {
  CloseHandle(state_->handle);
}

bool Thread::Wait(uint32_t timeoutMs) {
  return WaitForSingleObject(state_->handle, timeoutMs) == WAIT_OBJECT_0;
}

int Thread::exitCode() const {
  DWORD code = 0;
  if (!GetExitCodeThread(state_->handle, &code)) return -1;
  return static_cast<int>(code);
}

}  // namespace udra::platform

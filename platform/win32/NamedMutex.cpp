#include "platform/NamedMutex.h"

#include <windows.h>

namespace udra::platform {
namespace {

class KernelMutex : public NamedMutex {
 public:
  explicit KernelMutex(HANDLE handle) : handle_(handle) {}
  ~KernelMutex() override { CloseHandle(handle_); }

  WaitResult Wait(uint32_t timeoutMs) override {
    switch (WaitForSingleObject(handle_, timeoutMs)) {
      case WAIT_OBJECT_0:
        return WaitResult::Acquired;
      case WAIT_ABANDONED:
        return WaitResult::Abandoned;
      case WAIT_TIMEOUT:
        return WaitResult::Timeout;
      default:
        return WaitResult::Failed;
    }
  }

  bool Release() override { return ReleaseMutex(handle_) != 0; }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<NamedMutex> NamedMutex::CreateOrOpen(const std::string& name, bool initiallyOwned) {
  HANDLE handle = CreateMutexA(nullptr, FALSE, name.c_str());
  if (!handle) return nullptr;
  auto mutex = std::make_unique<KernelMutex>(handle);
  if (initiallyOwned) {
    const WaitResult r = mutex->Wait(0);
    if (r != WaitResult::Acquired && r != WaitResult::Abandoned) return nullptr;
  }
  return mutex;
}

bool NamedMutex::Exists(const std::string& name) {
  HANDLE handle = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
  if (!handle) return false;
  CloseHandle(handle);
  return true;
}

}  // namespace udra::platform

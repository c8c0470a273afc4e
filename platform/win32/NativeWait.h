// How the Win32 backend waits on a Waitable: a kernel object handle.
#pragma once

#include <windows.h>

namespace udra::platform::detail {

struct NativeWait {
  HANDLE handle = nullptr;
};

}  // namespace udra::platform::detail

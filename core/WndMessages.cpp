// The hidden window's handler: host records, the connect result and timers.
#include "core/ResourceManager.h"
#include "hostlink/PipeMsg.h"

namespace udra {

void ResourceManager::OnWndMsg(platform::WindowHandle, uint32_t, uintptr_t, intptr_t) {}

}  // namespace udra

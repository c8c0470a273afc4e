#include "platform/Module.h"

#include <windows.h>

// windows.h defines FreeModule as a macro for FreeLibrary.
#undef FreeModule

namespace udra::platform {

std::string ModulePathOf(const void* address) {
  MEMORY_BASIC_INFORMATION info{};
  if (!VirtualQuery(address, &info, sizeof info) || !info.AllocationBase) return {};
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return std::string(path, n);
}

ModuleHandle LoadModule(const std::string& path) { return LoadLibraryA(path.c_str()); }

void* ModuleSymbol(ModuleHandle module, const char* name) {
  if (!module) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void FreeModule(ModuleHandle module) {
  if (module) FreeLibrary(static_cast<HMODULE>(module));
}

}  // namespace udra::platform

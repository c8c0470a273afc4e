#include "platform/Module.h"

#include <dlfcn.h>

namespace udra::platform {

std::string ModulePathOf(const void* address) {
  Dl_info info{};
  if (!dladdr(address, &info) || !info.dli_fname || !*info.dli_fname) return {};
  char resolved[4096];
  if (realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
}

ModuleHandle LoadModule(const std::string& path) {
  // A path without a slash would make dlopen search the library path.
  if (path.find('/') == std::string::npos) return dlopen(("./" + path).c_str(), RTLD_NOW | RTLD_LOCAL);
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* ModuleSymbol(ModuleHandle module, const char* name) {
  return module ? dlsym(module, name) : nullptr;
}

void FreeModule(ModuleHandle module) {
  if (module) dlclose(module);
}

}  // namespace udra::platform

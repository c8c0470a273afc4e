// Loading modules and finding the module that holds a piece of code.
#pragma once

#include <string>

namespace udra::platform {

using ModuleHandle = void*;

// Full path of the module (shared library or executable) whose image holds
// `address`; empty when it cannot be determined.
std::string ModulePathOf(const void* address);

// Loads a shared library by path; null on failure.
ModuleHandle LoadModule(const std::string& path);
// Address of an exported symbol; null when absent or when `module` is null.
void* ModuleSymbol(ModuleHandle module, const char* name);
void FreeModule(ModuleHandle module);

}  // namespace udra::platform

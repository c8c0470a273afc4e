#include "platform/Program.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/CodePage.h"

namespace udra::platform {
namespace {

std::string ToUtf8(const wchar_t* wide) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(size_t(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, &out[0], size, nullptr, nullptr);
  out.resize(size_t(size) - 1);  // the terminating zero
  return out;
}

}  // namespace

std::string ExecutablePath() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> out;
  if (wide && count == argc) {
    for (int i = 0; i < count; ++i) out.push_back(ToUtf8(wide[i]));
  } else {
    // The runtime split the line differently: keep its split, converted
    // from the ANSI code page (an argument it cannot convert stays as is).
    for (int i = 0; i < argc; ++i) {
      const std::string utf8 = AnsiToUtf8(argv[i]);
      out.push_back(utf8.empty() ? argv[i] : utf8);
    }
  }
  if (wide) LocalFree(wide);
  return out;
}

}  // namespace udra::platform

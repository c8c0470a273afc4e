#include "platform/System.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
// clang-format on

#include <cstdio>
#include <string>
#include <ctime>

namespace udra::platform {

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }
uint32_t CurrentProcessId() { return GetCurrentProcessId(); }
uint32_t TickCount() { return GetTickCount(); }
void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

LocalTime Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

int64_t UnixTime() { return int64_t(_time64(nullptr)); }

std::string AppDataFolder() {
  char path[MAX_PATH];
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, path))) return {};
  return path;
}

std::string NewGuidText() {
  std::string text;
  CoInitialize(nullptr);
  GUID guid;
  if (SUCCEEDED(CoCreateGuid(&guid))) {
    wchar_t wide[39];
    if (StringFromGUID2(guid, wide, 39) > 0) {
      char narrow[40] = {};
      WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, 39, nullptr, nullptr);
      text = narrow;
    }
  }
  CoUninitialize();
  return text;
}

std::string SystemErrorText(int error) {
  char buffer[256] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(error),
                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) text.pop_back();
  return text.empty() ? "error " + std::to_string(error) : text;
}

bool IsAccessDenied(int error) { return error == ERROR_ACCESS_DENIED; }

void KeepFreedMemory(size_t) {}

std::string LocalObjectsProblem() { return {}; }

void DebugOutput(const char* text) {
  if (text) OutputDebugStringA(text);
}

bool EnablePrivilege(const char* name) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return false;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  bool ok = LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid) &&
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
            GetLastError() != ERROR_NOT_ALL_ASSIGNED;
  CloseHandle(token);
  return ok;
}

void ShowMessageBox(const char* text, const char* caption) { MessageBoxA(nullptr, text, caption, MB_OK); }

}  // namespace udra::platform

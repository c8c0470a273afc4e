#include "platform/Gbk.h"

#include <windows.h>

namespace udra::platform {
namespace {

constexpr UINT kGbk = 936;

std::wstring Widen(UINT from, std::string_view in) {
  if (in.empty() || in.size() > 0x3FFFFFFF) return {};
  const int size = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(size_t(size), L'\0');
  if (MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), &wide[0], size) != size)
    return {};
  return wide;
}

// CP_UTF8 takes neither a default character nor the flag asking whether one
// was used; code page 936 takes both, and a substituted '?' is a failure.
std::string Narrow(UINT to, const std::wstring& wide) {
  if (wide.empty()) return {};
  const bool utf8 = to == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL defaulted = FALSE;
  BOOL* usedDefault = utf8 ? nullptr : &defaulted;
  const int size = WideCharToMultiByte(to, flags, wide.data(), int(wide.size()), nullptr, 0, nullptr, usedDefault);
  if (size <= 0 || defaulted) return {};
  std::string out(size_t(size), '\0');
  if (WideCharToMultiByte(to, flags, wide.data(), int(wide.size()), &out[0], size, nullptr, usedDefault) != size ||
      defaulted)
    return {};
  return out;
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) { return Narrow(kGbk, Widen(CP_UTF8, utf8)); }
std::string GbkToUtf8(std::string_view gbk) { return Narrow(CP_UTF8, Widen(kGbk, gbk)); }

}  // namespace udra::platform

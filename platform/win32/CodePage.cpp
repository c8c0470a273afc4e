#include "platform/CodePage.h"

#include <windows.h>

namespace udra::platform {
namespace {

std::string Convert(UINT from, UINT to, std::string_view in) {
  if (in.empty() || in.size() > 0x3FFFFFFF) return {};
  const int wideSize = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), nullptr, 0);
  if (wideSize <= 0) return {};
  std::wstring wide(size_t(wideSize), L'\0');
  MultiByteToWideChar(from, 0, in.data(), int(in.size()), &wide[0], wideSize);
  const int outSize = WideCharToMultiByte(to, 0, wide.data(), wideSize, nullptr, 0, nullptr, nullptr);
  if (outSize <= 0) return {};
  std::string out(size_t(outSize), '\0');
  WideCharToMultiByte(to, 0, wide.data(), wideSize, &out[0], outSize, nullptr, nullptr);
  return out;
}

}  // namespace

std::string AnsiToUtf8(std::string_view ansi) { return Convert(CP_ACP, CP_UTF8, ansi); }
std::string Utf8ToAnsi(std::string_view utf8) { return Convert(CP_UTF8, CP_ACP, utf8); }
bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != 0; }

}  // namespace udra::platform

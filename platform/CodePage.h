// Conversion between the system ANSI code page and UTF-8. The ANSI code page
// is the system's on Windows and GBK (code page 936) elsewhere, so catalogues
// and logs made for the Windows client stay byte-compatible.
#pragma once

#include <string>
#include <string_view>

namespace udra::platform {

// Converts; bytes that cannot be converted make the result empty.
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);

// Whether `byte` starts a two-byte character of the ANSI code page
// (IsDBCSLeadByte; for GBK 0x81 to 0xFE).
bool IsAnsiLeadByte(unsigned char byte);

}  // namespace udra::platform

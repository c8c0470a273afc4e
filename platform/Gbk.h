// Conversion between UTF-8 and GBK (code page 936), whatever the system's own
// ANSI code page is. Catalogue names are GBK on every platform, so a
// catalogue written on a machine with another code page still names the
// files the Chinese client looks for.
#pragma once

#include <string>
#include <string_view>

namespace udra::platform {

// Converts; a byte sequence that is not valid in the source encoding, or a
// character that the target cannot represent, makes the result empty (never
// a '?' in its place: a changed name could name another file).
std::string Utf8ToGbk(std::string_view utf8);
std::string GbkToUtf8(std::string_view gbk);

}  // namespace udra::platform

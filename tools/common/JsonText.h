// JSON string literals for the tools' --json output. Whatever bytes come in,
// what goes out is valid UTF-8.
#pragma once

#include <string>

namespace udra::tool {

// `utf8` as a JSON string literal; a byte that is not part of well-formed
// UTF-8 becomes U+FFFD.
std::string JsonString(const std::string& utf8);

// `ansi` (the ANSI code page: GBK) as UTF-8. When the text does not convert
// as a whole, its bytes are taken as UTF-8 and what is not becomes U+FFFD.
std::string Utf8FromAnsi(const std::string& ansi);

// `ansi` (the ANSI code page: GBK) converted to UTF-8, as a JSON string
// literal. When the text does not convert as a whole, its bytes are taken as
// UTF-8 and what is not becomes U+FFFD.
std::string JsonStringFromAnsi(const std::string& ansi);

}  // namespace udra::tool

#include "platform/Gbk.h"

#include "platform/CodePage.h"

namespace udra::platform {

// The ANSI code page of this backend is GBK already.
std::string Utf8ToGbk(std::string_view utf8) { return Utf8ToAnsi(utf8); }
std::string GbkToUtf8(std::string_view gbk) { return AnsiToUtf8(gbk); }

}  // namespace udra::platform

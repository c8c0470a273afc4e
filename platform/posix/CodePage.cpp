#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>

namespace udra::platform {
namespace {

std::string Convert(const char* to, const char* from, std::string_view in) {
  if (in.empty()) return {};
  iconv_t cd = iconv_open(to, from);
  if (cd == iconv_t(-1)) return {};
  std::string out(in.size() * 2 + 8, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  size_t done = 0;
  bool ok = true;
  while (srcLeft) {
    char* dst = &out[done];
    size_t dstLeft = out.size() - done;
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    done = out.size() - dstLeft;
    if (r != size_t(-1)) continue;
    if (errno != E2BIG) {
      ok = false;
      break;
    }
    out.resize(out.size() * 2);
  }
  iconv_close(cd);
  if (!ok) return {};
  out.resize(done);
  return out;
}

}  // namespace

std::string AnsiToUtf8(std::string_view ansi) { return Convert("UTF-8", "GBK", ansi); }
std::string Utf8ToAnsi(std::string_view utf8) { return Convert("GBK", "UTF-8", utf8); }
bool IsAnsiLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

}  // namespace udra::platform

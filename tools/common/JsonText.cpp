#include "JsonText.h"

#include <cstdint>
#include <cstdio>

#include "platform/CodePage.h"

namespace udra::tool {
namespace {

// Length of the well-formed UTF-8 sequence at `at`, 0 when it is not one.
size_t Utf8Length(const std::string& s, size_t at) {
  const auto byte = [&](size_t i) { return uint8_t(s[i]); };
  const uint8_t lead = byte(at);
  size_t length = 0;
  uint32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000;
  } else {
    return 0;
  }
  if (at + length > s.size()) return 0;
  uint32_t code = lead & (0x3F >> (length - 1));
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const uint8_t c = uint8_t(text[i]);
    if (c >= 0x80) {
      const size_t length = Utf8Length(text, i);
      if (length == 0) {
        out += "\\ufffd";
        ++i;
      } else {
        out.append(text, i, length);
        i += length;
      }
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c == 0x7F) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else {
      out += char(c);
    }
    ++i;
  }
  return out + "\"";
}

std::string Utf8FromAnsi(const std::string& ansi) {
  const std::string utf8 = platform::AnsiToUtf8(ansi);
  if (!utf8.empty() || ansi.empty()) return utf8;
  std::string out;
  for (size_t i = 0; i < ansi.size();) {
    const size_t length = uint8_t(ansi[i]) < 0x80 ? 1 : Utf8Length(ansi, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      ++i;
    } else {
      out.append(ansi, i, length);
      i += length;
    }
  }
  return out;
}

std::string JsonStringFromAnsi(const std::string& ansi) { return JsonString(Utf8FromAnsi(ansi)); }

}  // namespace udra::tool

#include "resources/UrlEncode.h"

namespace udra {

const std::string kUrlReservedChars("\"<>%\\^[]`+$,@:;/!#?=&");

namespace {
const char kHexDigits[] = "0123456789ABCDEF";
}  // namespace

std::string CURLEncode::ByteToHex(unsigned char byte) const {
  return std::string{kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
}

std::string CURLEncode::EscapeByte(unsigned char byte) const { return "%" + ByteToHex(byte); }

std::string CURLEncode::EncodeSegment(const std::string& segment) const {
  std::string out;
  out.reserve(segment.size());
  for (char c : segment) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x21 || byte > 0x7A || kUrlReservedChars.find(c) != std::string::npos) {
      out += EscapeByte(byte);
    } else {
      out += c;
    }
  }
  return out;
}

std::string CURLEncode::Encode(const std::string& url) const {
  size_t restStart = 0;
  const size_t scheme = url.find("://");
  if (scheme != std::string::npos) {
    const size_t slash = url.find('/', scheme + 3);
    if (slash != std::string::npos) restStart = slash + 1;
  }
  std::string out = url.substr(0, restStart);
  size_t pos = restStart;
  while (pos < url.size()) {
    const size_t separator = url.find_first_of("\\/", pos);
    const size_t end = separator == std::string::npos ? url.size() : separator;
    out += EncodeSegment(url.substr(pos, end - pos));
    if (separator == std::string::npos) break;
    out += url[separator];
    pos = separator + 1;
  }
  return out;
}

}  // namespace udra

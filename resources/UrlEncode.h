// Percent-encoding of download URLs, segment by segment; the scheme, the host
// and the separators stay as they are.
#pragma once

#include <string>

namespace udra {

// The 21 bytes that are always escaped, in their fixed order.
extern const std::string kUrlReservedChars;

class CURLEncode {
 public:
  CURLEncode() = default;
  virtual ~CURLEncode() = default;

  // The whole URL: everything up to and including the first "/" after "://"
  // is kept, the rest is split at "\" and "/" and each segment encoded.
  std::string Encode(const std::string& url) const;
  // One path segment: reserved bytes and bytes outside '!'..'z' are escaped.
  std::string EncodeSegment(const std::string& segment) const;
  // "%" and the two upper-case hex digits of the byte.
  std::string EscapeByte(unsigned char byte) const;
  // The two upper-case hex digits of the byte, high digit first.
  std::string ByteToHex(unsigned char byte) const;
};

}  // namespace udra

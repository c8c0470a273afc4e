// Lines of FileList.dat as udra-publish writes them, and the catalogue's key
// order.
#pragma once

#include <cstdint>
#include <string>

namespace udra::publish {

struct CatalogueLine {
  std::string name;          // ANSI (GBK) bytes, backslash separators
  int64_t size = 0;          // -1 for a folder
  int64_t packedSize = 0;
  std::string digest;        // 32 hexadecimal digits
  std::string packedDigest;  // 32 hexadecimal digits
  std::string urlFolder;     // ANSI, backslash or slash separators; may be empty
  std::string packageName;   // ANSI; empty when stored on its own
};

// The digest columns of a folder line (an empty column cannot be written).
extern const char kNoDigest[];

// "name|size|packedSize|digest|packedDigest|urlFolder|packageName\r\n".
// Readers trim slashes from every column and skip empty columns, so an empty
// URL folder is written as "/" and an absent package as ":".
std::string FormatLine(const CatalogueLine& line);

// The catalogue's key order: ASCII case ignored, a backslash below every
// other byte, other bytes compared as signed values.
bool KeyLess(const std::string& a, const std::string& b);

// True when the two keys name the same catalogue entry (ASCII case ignored).
bool SameKey(const std::string& a, const std::string& b);

// Names between UTF-8 and the catalogue's GBK (code page 936, whatever the
// code page of the machine that publishes); empty when they cannot be
// converted. ASCII names, the usual case, are the same in both and
// skip the converter.
std::string ToAnsi(const std::string& utf8);
std::string ToUtf8(const std::string& ansi);

}  // namespace udra::publish

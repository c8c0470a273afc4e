// Preparing the paths the game passes in: normalising them into a 260-byte
// buffer and turning them into catalogue keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace udra {

// Size of the buffer a normalised path lives in (259 bytes and a terminator).
constexpr size_t kPathBufferSize = 260;
// Keys and paths of this many bytes or more name nothing: every lookup treats
// them as absent. They are refused rather than cut, since a cut key could name
// another file.
constexpr size_t kKeyLimit = 256;

// A normalised path: separators as single backslashes, "\.\" and "\..\"
// resolved, leading spaces and trailing white space removed.
class NormalPath {
 public:
  std::string_view view() const { return std::string_view(text_, length_); }
  const char* c_str() const { return text_; }
  size_t size() const { return length_; }
  // The input did not fit the buffer. The text is then the cut copy (258 or
  // 259 bytes), which every lookup treats as absent.
  bool cut() const { return cut_; }

 private:
  friend NormalPath NormalizePath(const char* path);
  char text_[kPathBufferSize] = {};
  size_t length_ = 0;
  bool cut_ = false;
};

// Normalises `path` (null gives an empty path). Characters of the ANSI code
// page's two-byte set count as one: their second byte is never a separator.
// A path whose normalised form does not fit 259 bytes is cut and left
// unresolved, so that it names nothing rather than something shorter.
NormalPath NormalizePath(const char* path);

// The length in bytes (1 or 2) of the character of `text` at `i`: 2 for a lead
// byte of the ANSI code page followed by a possible second byte.
size_t PathCharLength(std::string_view text, size_t i);

// The catalogue key of a path: the path with backslashes, slashes, spaces and
// both kinds of quotes removed from both ends. False (no key) when the path is
// kKeyLimit bytes or longer.
bool CatalogueKey(std::string_view path, std::string_view& key);

// Reads up to 32 hexadecimal digits (either case) in pairs, high nibble first,
// into 16 bytes. A non-hexadecimal character stops the conversion; the bytes
// not reached stay zero and a final odd nibble is dropped.
void DigestToBytes(std::string_view digest, uint8_t bytes[16]);

}  // namespace udra

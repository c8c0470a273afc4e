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

 private:
  friend NormalPath NormalizePath(const char* path);
  char text_[kPathBufferSize] = {};
  size_t length_ = 0;
};

// Normalises `path` (null gives an empty path). Input beyond 259 bytes of
// output is dropped.
NormalPath NormalizePath(const char* path);

// The catalogue key of a path: the path with backslashes, slashes, spaces and
// both kinds of quotes removed from both ends. False (no key) when the path is
// kKeyLimit bytes or longer.
bool CatalogueKey(std::string_view path, std::string_view& key);

// Reads up to 32 hexadecimal digits (either case) in pairs, high nibble first,
// into 16 bytes. A non-hexadecimal character stops the conversion; the bytes
// not reached stay zero and a final odd nibble is dropped.
void DigestToBytes(std::string_view digest, uint8_t bytes[16]);

}  // namespace udra

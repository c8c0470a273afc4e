#include "resources/PathRules.h"

#include <cstring>

#include "platform/CodePage.h"

namespace udra {
namespace {

inline bool IsSeparator(char c) { return c == '/' || c == '\\'; }

inline bool IsTrailingBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

inline bool IsKeyTrim(char c) {
  return c == '\\' || c == '/' || c == ' ' || c == '"' || c == '\'';
}

// Every lead byte of a two-byte code page is 0x81 or above: below that the
// character is one byte, without asking the code page.
inline size_t CharLength(std::string_view text, size_t i) {
  return static_cast<unsigned char>(text[i]) < 0x81 ? 1 : PathCharLength(text, i);
}

// Whether `at` starts a character of text[0, length).
bool AtBoundary(const char* text, size_t length, size_t at) {
  const std::string_view view(text, length);
  size_t i = 0;
  while (i < at) i += CharLength(view, i);
  return i == at;
}

// Position of `needle` in text[0, length) at a character boundary, or -1:
// the second byte of a two-byte character is never taken for a separator.
long Find(const char* text, size_t length, const char* needle, size_t needleLength) {
  for (size_t i = 0; i + needleLength <= length; ++i) {
    if (text[i] == needle[0] && std::memcmp(text + i, needle, needleLength) == 0 && AtBoundary(text, length, i)) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

// Position of the last separator in text[0, end), or -1.
long LastSeparatorBefore(const char* text, size_t end) {
  long last = -1;
  const std::string_view view(text, end);
  for (size_t i = 0; i < end; i += CharLength(view, i)) {
    if (text[i] == '\\') last = static_cast<long>(i);
  }
  return last;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

size_t PathCharLength(std::string_view text, size_t i) {
  if (i + 1 >= text.size() || !platform::IsAnsiLeadByte(static_cast<unsigned char>(text[i]))) return 1;
  const unsigned char trail = static_cast<unsigned char>(text[i + 1]);
  return trail >= 0x40 && trail != 0x7F && trail != 0xFF ? 2 : 1;
}

NormalPath NormalizePath(const char* path) {
  NormalPath out;
  char* text = out.text_;
  size_t length = 0;
  if (path != nullptr) {
    // Copy with separators unified; a run of separators collapses to one. A
    // two-byte character is copied whole: its second byte may be 0x5C, which
    // is no separator there.
    // Read up to the terminator only as far as the buffer needs: the text
    // after a cut is never looked at.
    bool afterSeparator = false;
    for (const char* p = path; *p != '\0';) {
      if (IsSeparator(*p)) {
        ++p;
        if (afterSeparator) continue;
        if (length + 1 > kPathBufferSize - 1) {
          out.cut_ = true;
          break;
        }
        text[length++] = '\\';
        afterSeparator = true;
        continue;
      }
      // p[1] is readable: p[0] is not the terminator.
      const size_t n = CharLength(std::string_view(p, p[1] == '\0' ? 1 : 2), 0);
      if (length + n > kPathBufferSize - 1) {
        out.cut_ = true;
        break;
      }
      std::memcpy(text + length, p, n);
      length += n;
      p += n;
      afterSeparator = false;
    }
  }
  if (out.cut_) {
    // What is left is the cut text of 258 or 259 bytes, too long for any
    // lookup: a cut path must never resolve to a shorter one.
    text[length] = '\0';
    out.length_ = length;
    return out;
  }

  size_t start = 0;
  while (start < length && text[start] == ' ') ++start;
  while (length > start && IsTrailingBlank(text[length - 1])) --length;
  if (start > 0) std::memmove(text, text + start, length - start);
  length -= start;

  // "\.\" becomes "\" until none is left.
  for (long at; (at = Find(text, length, "\\.\\", 3)) >= 0;) {
    std::memmove(text + at + 1, text + at + 3, length - at - 3);
    length -= 2;
  }

  // "x\y\..\z" becomes "x\z"; a ".." with no component before it stays.
  for (long at; (at = Find(text, length, "\\..\\", 4)) >= 0;) {
    const long lastSeparator = LastSeparatorBefore(text, size_t(at));
    if (lastSeparator < 0) break;
    // Keep text[0, lastSeparator) and append what followed "\..".
    const size_t tail = at + 3;
    std::memmove(text + lastSeparator, text + tail, length - tail);
    length = lastSeparator + (length - tail);
  }

  text[length] = '\0';
  out.length_ = length;
  return out;
}

bool CatalogueKey(std::string_view path, std::string_view& key) {
  if (path.size() >= kKeyLimit) return false;
  size_t begin = 0;
  while (begin < path.size() && IsKeyTrim(path[begin])) ++begin;
  // The end is found going forwards, so that the second byte of a two-byte
  // character is never taken for a trailing backslash.
  size_t end = begin;
  for (size_t i = begin; i < path.size();) {
    const size_t n = CharLength(path, i);
    if (n == 2 || !IsKeyTrim(path[i])) end = i + n;
    i += n;
  }
  key = path.substr(begin, end - begin);
  return true;
}

void DigestToBytes(std::string_view digest, uint8_t bytes[16]) {
  std::memset(bytes, 0, 16);
  for (size_t i = 0; i < 16 && 2 * i + 1 < digest.size(); ++i) {
    const int high = HexValue(digest[2 * i]);
    const int low = HexValue(digest[2 * i + 1]);
    if (high < 0 || low < 0) return;
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
}

}  // namespace udra

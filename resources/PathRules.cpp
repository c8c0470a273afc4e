#include "resources/PathRules.h"

#include <cstring>

namespace udra {
namespace {

inline bool IsSeparator(char c) { return c == '/' || c == '\\'; }

inline bool IsTrailingBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

inline bool IsKeyTrim(char c) {
  return c == '\\' || c == '/' || c == ' ' || c == '"' || c == '\'';
}

// Position of `needle` in text[0, length), or -1.
long Find(const char* text, size_t length, const char* needle, size_t needleLength) {
  if (length < needleLength) return -1;
  for (size_t i = 0; i + needleLength <= length; ++i) {
    if (std::memcmp(text + i, needle, needleLength) == 0) return static_cast<long>(i);
  }
  return -1;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

NormalPath NormalizePath(const char* path) {
  NormalPath out;
  char* text = out.text_;
  size_t length = 0;
  if (path != nullptr) {
    // Copy with separators unified; a run of separators collapses to one.
    for (const char* p = path; *p != '\0' && length < kPathBufferSize - 1; ++p) {
      if (IsSeparator(*p)) {
        if (length > 0 && text[length - 1] == '\\') continue;
        text[length++] = '\\';
      } else {
        text[length++] = *p;
      }
    }
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
    long lastSeparator = -1;
    for (long i = at - 1; i >= 0; --i) {
      if (text[i] == '\\') {
        lastSeparator = i;
        break;
      }
    }
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
  size_t end = path.size();
  while (begin < end && IsKeyTrim(path[begin])) ++begin;
  while (end > begin && IsKeyTrim(path[end - 1])) --end;
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

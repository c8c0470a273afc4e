#include "Catalogue.h"

#include "platform/Gbk.h"

namespace udra::publish {
namespace {

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool IsAscii(const std::string& s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

const char kNoDigest[] = "00000000000000000000000000000000";

std::string FormatLine(const CatalogueLine& line) {
  std::string out;
  out.reserve(line.name.size() + 128);
  out += line.name;
  out += '|';
  out += std::to_string(line.size);
  out += '|';
  out += std::to_string(line.packedSize);
  out += '|';
  out += line.digest;
  out += '|';
  out += line.packedDigest;
  out += '|';
  out += line.urlFolder.empty() ? std::string("/") : line.urlFolder;
  out += '|';
  out += line.packageName.empty() ? std::string(":") : line.packageName;
  out += "\r\n";
  return out;
}

bool KeyLess(const std::string& a, const std::string& b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && Fold(a[i]) == Fold(b[i])) ++i;
  if (i == a.size()) return i != b.size();
  if (i == b.size()) return false;
  const char x = Fold(a[i]), y = Fold(b[i]);
  if (x == '\\') return true;
  if (y == '\\') return false;
  return static_cast<signed char>(x) < static_cast<signed char>(y);
}

bool SameKey(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

std::string ToAnsi(const std::string& utf8) {
  return IsAscii(utf8) ? utf8 : platform::Utf8ToGbk(utf8);
}

std::string ToUtf8(const std::string& ansi) {
  return IsAscii(ansi) ? ansi : platform::GbkToUtf8(ansi);
}

}  // namespace udra::publish

#include "Report.h"

#include <cstdint>

namespace udra::publish {
namespace {

using ull = unsigned long long;

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

std::string Count(const char* name, const ChangeCount& c) {
  return std::string("\"") + name + "\":{\"count\":" + std::to_string(c.count) +
         ",\"bytes\":" + std::to_string(c.bytes) + "}";
}

std::string StringArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + JsonString(items[i]);
  return out + "]";
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

void PrintText(std::FILE* out, const PublishStats& s) {
  std::fprintf(out, "%zu files, %zu folders, %zu packages: %llu bytes stored as %llu bytes\n",
               s.files, s.folders, s.packages, ull(s.inputBytes), ull(s.outputBytes));
  if (s.previousFolders.empty()) {
    std::fprintf(out, "new tree: %zu downloads (%llu bytes) added\n", s.added.count,
                 ull(s.added.bytes));
  } else {
    std::fprintf(out,
                 "changed %zu (%llu bytes), added %zu (%llu bytes), removed %zu (%llu bytes), "
                 "reused %zu (%llu bytes: %zu linked, %zu copied)\n",
                 s.changed.count, ull(s.changed.bytes), s.added.count, ull(s.added.bytes),
                 s.removed.count, ull(s.removed.bytes), s.reused.count, ull(s.reused.bytes),
                 s.linked, s.copied);
  }
  if (s.storedAnew > 0) {
    std::fprintf(out, "%zu unchanged downloads stored anew (previous stored file unusable)\n",
                 s.storedAnew);
  }
  if (s.pruned) {
    std::fprintf(out, "pruned %zu files (%llu bytes) and %zu folders\n", s.prune.files,
                 ull(s.prune.bytes), s.prune.folders);
    for (const std::string& path : s.prune.removed) std::fprintf(out, "  removed %s\n", path.c_str());
  }
}

void PrintJson(std::FILE* out, const PublishStats& s) {
  std::string json = "{\"files\":" + std::to_string(s.files) +
                     ",\"folders\":" + std::to_string(s.folders) +
                     ",\"packages\":" + std::to_string(s.packages) +
                     ",\"inputBytes\":" + std::to_string(s.inputBytes) +
                     ",\"storedBytes\":" + std::to_string(s.outputBytes) +
                     ",\"urlFolder\":" + JsonString(s.urlFolder) +
                     ",\"previousUrlFolders\":" + StringArray(s.previousFolders) + "," +
                     Count("changed", s.changed) + "," + Count("added", s.added) + "," +
                     Count("removed", s.removed) + "," + Count("reused", s.reused) +
                     ",\"linked\":" + std::to_string(s.linked) +
                     ",\"copied\":" + std::to_string(s.copied) +
                     ",\"storedAnew\":" + std::to_string(s.storedAnew);
  if (s.pruned) {
    json += ",\"pruned\":{\"files\":" + std::to_string(s.prune.files) +
            ",\"bytes\":" + std::to_string(s.prune.bytes) +
            ",\"folders\":" + std::to_string(s.prune.folders) +
            ",\"removed\":" + StringArray(s.prune.removed) + "}";
  }
  json += "}\n";
  std::fputs(json.c_str(), out);
}

}  // namespace udra::publish

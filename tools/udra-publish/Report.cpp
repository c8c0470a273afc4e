#include "Report.h"

#include <cstdint>

namespace udra::publish {
namespace {

using ull = unsigned long long;

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

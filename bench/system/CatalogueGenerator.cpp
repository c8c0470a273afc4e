#include "CatalogueGenerator.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace udra::sysbench {
namespace {

struct Top {
  const char* name;  // GBK
  const char* extension;
};

// "角色" and "场景" in GBK: catalogue names are in the ANSI code page.
constexpr Top kTops[] = {{"Data", ".dat"},    {"Maps", ".map"},    {"Sound", ".ogg"},  {"Textures", ".dds"},
                         {"Models", ".mdl"},  {"UI", ".xml"},      {"Scripts", ".lua"}, {"Effects", ".eff"},
                         {"\xBD\xC7\xC9\xAB", ".ani"}, {"\xB3\xA1\xBE\xB0", ".scn"}};
constexpr const char* kSets[] = {"Common", "Forest", "Desert", "Castle", "Dungeon",
                                 "City",   "Coast",  "Snow",   "Swamp",  "Cave"};
constexpr const char* kStems[] = {"tree_oak", "rock",  "wall_stone", "door", "npc_guard",
                                  "hero",     "sky",   "water_flow", "fire", "grass_tall"};
constexpr int kRegions = 100;
constexpr size_t kFolders = std::size(kTops) * (1 + kRegions * (1 + std::size(kSets)));
constexpr char kNoDigest[] = "00000000000000000000000000000000";

class Writer {
 public:
  explicit Writer(const std::string& path) : out_(path, std::ios::binary) {}
  bool ok() const { return bool(out_); }
  uint64_t bytes() const { return bytes_; }

  void Line(const std::string& name, int64_t size, int64_t packedSize, const std::string& digest,
            const std::string& packedDigest, const std::string& package) {
    std::string line;
    line.reserve(name.size() + package.size() + 100);
    line += name;
    line += '|' + std::to_string(size) + '|' + std::to_string(packedSize) + '|';
    line += digest;
    line += '|';
    line += packedDigest;
    line += "|v1|";
    line += package.empty() ? std::string(":") : package;
    line += "\r\n";
    out_.write(line.data(), static_cast<std::streamsize>(line.size()));
    bytes_ += line.size();
  }

  // splitmix64: the same catalogue on every run.
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 32 upper-case hex digits that differ per call.
  std::string Digest() {
    static const char hex[] = "0123456789ABCDEF";
    std::string out(32, '0');
    for (int half = 0; half < 2; ++half) {
      const uint64_t z = Next();
      for (int i = 0; i < 16; ++i) out[size_t(half * 16 + i)] = hex[(z >> (i * 4)) & 15];
    }
    return out;
  }

 private:
  std::ofstream out_;
  uint64_t bytes_ = 0;
  uint64_t state_ = 42;
};

}  // namespace

bool WriteCatalogue(const std::string& path, size_t entries, CatalogueShape& shape) {
  if (entries < kFolders) return false;
  Writer writer(path);
  if (!writer.ok()) return false;
  shape = CatalogueShape{};
  const size_t leaves = std::size(kTops) * kRegions * std::size(kSets);
  const size_t files = entries - kFolders;
  size_t leaf = 0;
  for (const Top& top : kTops) {
    writer.Line(top.name, -1, 0, kNoDigest, kNoDigest, "");
    for (int r = 0; r < kRegions; ++r) {
      char region[16];
      snprintf(region, sizeof region, "Region%03d", r);
      const std::string regionPath = std::string(top.name) + "\\" + region;
      writer.Line(regionPath, -1, 0, kNoDigest, kNoDigest, "");
      for (const char* set : kSets) {
        const std::string setPath = regionPath + "\\" + set;
        const bool packaged = leaf % 8 == 0;
        const std::string package = packaged ? setPath + ".pack" : "";
        const std::string packageDigest = writer.Digest();
        const int64_t packageSize = 4000000 + int64_t(writer.Next() % 4000000);
        writer.Line(setPath, -1, 0, kNoDigest, kNoDigest, package);
        const size_t count = files / leaves + (leaf < files % leaves ? 1 : 0);
        for (size_t f = 0; f < count; ++f) {
          char name[64];
          snprintf(name, sizeof name, "\\%s_%05zu%s", kStems[(leaf + f) % std::size(kStems)], f, top.extension);
          const int64_t size = 200 + int64_t(writer.Next() % 400000);
          if (packaged) {
            writer.Line(setPath + name, size, packageSize, writer.Digest(), packageDigest, package);
            ++shape.packaged;
          } else {
            writer.Line(setPath + name, size, size / 2 + 64, writer.Digest(), writer.Digest(), "");
          }
        }
        ++leaf;
      }
    }
  }
  shape.entries = entries;
  shape.folders = kFolders;
  shape.bytes = writer.bytes();
  return writer.ok();
}

}  // namespace udra::sysbench

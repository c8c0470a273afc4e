// udra-publish end to end: publish a folder with the staged tool, read the
// catalogue back by the catalogue's own rules, and decode every file (package
// members by parsing the container) back to its original bytes and digest.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "CodecTestSupport.h"
#include "platform/CodePage.h"
#include "util/Md5.h"

namespace fs = std::filesystem;

namespace udra::test {
namespace {

struct Line {
  std::string name;
  long long size = 0, packedSize = 0;
  std::string digest, packedDigest, urlFolder, packageName;
};

std::string Trim(const std::string& s) {
  const char* set = " \t\r\n\\/";
  const size_t b = s.find_first_not_of(set);
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(set) - b + 1);
}

std::vector<std::string> SplitSkippingRuns(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < s.size()) {
    size_t end = s.find(sep, start);
    if (end == std::string::npos) end = s.size();
    if (end > start) out.push_back(s.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::map<std::string, Line> ParseFileList(const std::string& text) {
  std::map<std::string, Line> lines;
  for (const std::string& raw : SplitSkippingRuns(text, '\n')) {
    const std::string trimmed = Trim(raw);
    EXPECT_FALSE(trimmed.empty());
    std::vector<std::string> cols = SplitSkippingRuns(trimmed, '|');
    for (auto& c : cols) c = Trim(c);
    EXPECT_EQ(cols.size(), 7u) << trimmed;
    if (cols.size() != 7) continue;
    Line l{cols[0], std::atoll(cols[1].c_str()),  std::atoll(cols[2].c_str()), cols[3], cols[4],
           cols[5], cols[6] == ":" ? "" : cols[6]};
    lines.emplace(l.name, l);
  }
  return lines;
}

std::string Slashes(std::string s) {
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

uint32_t Le32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}

// The member's stored bytes, found by walking the container's directory.
bool FindMember(const Bytes& package, const std::string& name, Bytes& member) {
  if (package.size() < 8) return false;
  const uint32_t count = Le32(package, 4);
  size_t at = 8;
  for (uint32_t i = 0; i < count; ++i) {
    if (at + 13 > package.size()) return false;
    const uint32_t size = Le32(package, at + 1), offset = Le32(package, at + 5);
    const uint32_t length = Le32(package, at + 9);
    if (length > 256 || at + 13 + length > package.size()) return false;
    const std::string entryName(package.begin() + at + 13, package.begin() + at + 13 + length);
    if (entryName == name) {
      if (uint64_t(offset) + size > package.size()) return false;
      member.assign(package.begin() + offset, package.begin() + offset + size);
      return true;
    }
    at += 13 + length;
  }
  return false;
}

void WriteFile(const fs::path& path, const Bytes& data) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write((const char*)data.data(), data.size());
}

Bytes TextBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

int RunPublish(const std::string& args) {
  const std::string command =
      std::string("'") + UDRA_STAGE_DIR + "/udra-publish' " + args + " > /dev/null 2>&1";
  return std::system(command.c_str());
}

class PublishRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempFolder("publish");
    src_ = root_ + "/src";
    out_ = root_ + "/out";
    std::mt19937 rng(42);
    Bytes binary(300000);
    for (auto& b : binary) b = uint8_t(rng() % 7 == 0 ? rng() : 0x90);
    files_ = {
        {"bin/data.bin", binary},
        {"readme.txt", TextBytes("line one\r\nline two\n")},
        {"empty.dat", {}},
        {"a/b/c/deep.txt", TextBytes(std::string(5000, 'x'))},
        {"资源/地图.txt", TextBytes("地图数据")},
        {"Data/Pack/m1.txt", TextBytes("first member")},
        {"Data/Pack/sub/m2.bin", Bytes(binary.begin(), binary.begin() + 1000)},
        {"Data/Pack/空.txt", {}},
        {"Other/keep.txt", TextBytes("outside the package")},
    };
    for (const auto& [name, data] : files_) WriteFile(fs::path(src_) / name, data);
  }
  void TearDown() override { RemoveTree(root_); }

  std::string root_, src_, out_;
  std::map<std::string, Bytes> files_;
};

TEST_F(PublishRoundTrip, EveryFileDecodesToItsBytesAndDigest) {
  ASSERT_TRUE(StagedCodec().IsLoaded());
  ASSERT_EQ(RunPublish("'" + src_ + "' '" + out_ +
                       "' --url-folder res/v1 --package Data/Pack --filter auto --level 3 --quiet"),
            0);
  const Bytes listBytes = ReadFileBytes(out_ + "/FileList.dat");
  const auto lines = ParseFileList(std::string(listBytes.begin(), listBytes.end()));

  size_t fileLines = 0;
  for (const auto& [key, line] : lines) {
    EXPECT_EQ(line.urlFolder, "res/v1");
    if (line.size == -1) continue;
    ++fileLines;
    const std::string name = platform::AnsiToUtf8(key);
    ASSERT_EQ(files_.count(Slashes(name)), 1u) << name;
    const Bytes& original = files_[Slashes(name)];
    EXPECT_EQ(line.size, (long long)original.size());
    EXPECT_EQ(line.digest, Md5::HexDigest(original.data(), original.size()));

    const std::string download = line.packageName.empty() ? key : line.packageName;
    const Bytes fetched =
        ReadFileBytes(out_ + "/res/v1/" + Slashes(platform::AnsiToUtf8(download)));
    EXPECT_EQ(line.packedSize, (long long)fetched.size()) << name;
    EXPECT_EQ(line.packedDigest, Md5::HexDigest(fetched.data(), fetched.size())) << name;

    Bytes stored = fetched;
    if (!line.packageName.empty()) {
      const std::string folder = line.packageName.substr(0, line.packageName.size() - 5);
      ASSERT_EQ(key.compare(0, folder.size() + 1, folder + "\\"), 0) << name;
      ASSERT_TRUE(FindMember(fetched, key.substr(folder.size() + 1), stored)) << name;
    }
    Bytes decoded;
    ASSERT_TRUE(Decode(stored, int32_t(line.size), decoded)) << name;
    EXPECT_EQ(decoded, original) << name;
  }
  EXPECT_EQ(fileLines, files_.size());

  // Folders are listed, the package folder with its package.
  ASSERT_EQ(lines.count("Data\\Pack"), 1u);
  EXPECT_EQ(lines.at("Data\\Pack").size, -1);
  EXPECT_EQ(lines.at("Data\\Pack").packageName, "Data\\Pack.pack");
  EXPECT_EQ(lines.at("a\\b").size, -1);
  EXPECT_EQ(lines.at("Other").packageName, "");
  // The GBK name is written in GBK.
  EXPECT_EQ(lines.count(platform::Utf8ToAnsi("资源\\地图.txt")), 1u);
}

TEST_F(PublishRoundTrip, WithoutUrlFolderTheTreeStartsAtTheRoot) {
  ASSERT_EQ(RunPublish("'" + src_ + "' '" + out_ + "' --quiet"), 0);
  const Bytes listBytes = ReadFileBytes(out_ + "/FileList.dat");
  const auto lines = ParseFileList(std::string(listBytes.begin(), listBytes.end()));
  ASSERT_EQ(lines.count("readme.txt"), 1u);
  EXPECT_EQ(lines.at("readme.txt").urlFolder, "");
  Bytes decoded;
  ASSERT_TRUE(Decode(ReadFileBytes(out_ + "/readme.txt"), 100, decoded));
  EXPECT_EQ(decoded, files_["readme.txt"]);
}

TEST_F(PublishRoundTrip, RefusesNamesTheCatalogueCannotCarry) {
  WriteFile(fs::path(src_) / "bad|name.txt", TextBytes("x"));
  EXPECT_NE(RunPublish("'" + src_ + "' '" + out_ + "' --quiet"), 0);
  fs::remove(fs::path(src_) / "bad|name.txt");
  WriteFile(fs::path(src_) / "README.TXT", TextBytes("x"));  // same key as readme.txt
  EXPECT_NE(RunPublish("'" + src_ + "' '" + out_ + "' --quiet"), 0);
  fs::remove(fs::path(src_) / "README.TXT");
  EXPECT_NE(RunPublish("'" + src_ + "' '" + out_ + "' --package Data --package Data/Pack --quiet"),
            0);
  EXPECT_NE(RunPublish("'" + src_ + "' '" + src_ + "/inside' --quiet"), 0);
}

TEST_F(PublishRoundTrip, WrapsAnLzma86Stream) {
  const Bytes data = files_["bin/data.bin"];
  WriteFile(fs::path(root_) / "in.lzma86", Lzma86Of(data, 1));
  ASSERT_EQ(RunPublish("--wrap-lzma86 '" + root_ + "/in.lzma86' '" + root_ + "/entry'"), 0);
  Bytes decoded;
  ASSERT_TRUE(Decode(ReadFileBytes(root_ + "/entry"), int32_t(data.size()), decoded));
  EXPECT_EQ(decoded, data);
  WriteFile(fs::path(root_) / "short", TextBytes("too short"));
  EXPECT_NE(RunPublish("--wrap-lzma86 '" + root_ + "/short' '" + root_ + "/entry2'"), 0);
}

}  // namespace
}  // namespace udra::test

// udra-publish over a tree that already holds a version: the new version gets
// its own URL folder, unchanged downloads are links to the previous ones, the
// previous version stays servable throughout (also when the publish is
// killed), and --prune keeps exactly what the two catalogues name.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "CodecTestSupport.h"
#include "util/Md5.h"

extern char** environ;

namespace fs = std::filesystem;

namespace udra::test {
namespace {

const std::string kTool = std::string(UDRA_STAGE_DIR) + "/udra-publish";

struct Line {
  long long size = 0, packedSize = 0;
  std::string digest, packedDigest, urlFolder, packageName;
};

std::string Slashes(std::string s) {
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

// name -> line, for the names this test uses (ASCII, tool-written lines).
std::map<std::string, Line> ParseFileList(const std::string& text) {
  std::map<std::string, Line> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) break;
    std::vector<std::string> cols;
    std::string line = text.substr(start, end - start), col;
    for (char c : line + "|") {
      if (c != '|') {
        col += c;
        continue;
      }
      cols.push_back(col);
      col.clear();
    }
    EXPECT_EQ(cols.size(), 7u) << line;
    if (cols.size() == 7) {
      lines[cols[0]] = {std::atoll(cols[1].c_str()), std::atoll(cols[2].c_str()), cols[3],
                        cols[4], cols[5], cols[6] == ":" ? "" : cols[6]};
    }
    start = end + 2;
  }
  return lines;
}

std::string ReadText(const fs::path& path) {
  const Bytes b = ReadFileBytes(path.string());
  return std::string(b.begin(), b.end());
}

void WriteFile(const fs::path& path, const std::string& data) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(data.data(), std::streamsize(data.size()));
}

std::string Noise(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (char& c : out) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    c = char(x >> 24);
  }
  return out;
}

// Runs the tool; its standard output in `out`; the exit code.
int Publish(const std::string& args, std::string* out = nullptr) {
  const std::string command = "'" + kTool + "' " + args + " --quiet 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  const int status = pclose(pipe);
  if (out != nullptr) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every download `catalogue` names is under `out` with its packed size and
// digest.
void ExpectServable(const fs::path& out, const std::string& catalogue) {
  const auto lines = ParseFileList(catalogue);
  ASSERT_FALSE(lines.empty());
  for (const auto& [name, line] : lines) {
    if (line.size < 0) continue;
    const std::string download = line.packageName.empty() ? name : line.packageName;
    const Bytes stored = ReadFileBytes((out / line.urlFolder / Slashes(download)).string());
    EXPECT_EQ((long long)stored.size(), line.packedSize) << download;
    EXPECT_EQ(Md5::HexDigest(stored.data(), stored.size()), line.packedDigest) << download;
  }
}

// Every file below `root` with its bytes and modification time.
std::map<std::string, std::pair<std::string, fs::file_time_type>> Snapshot(const fs::path& root) {
  std::map<std::string, std::pair<std::string, fs::file_time_type>> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) {
      files[e.path().lexically_relative(root).string()] = {ReadText(e.path()),
                                                           fs::last_write_time(e.path())};
    }
  }
  return files;
}

class PublishVersion : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempFolder("publish-version");
    src_ = fs::path(root_) / "src";
    out_ = fs::path(root_) / "out";
    WriteFile(src_ / "keep.txt", "unchanged text\n");
    WriteFile(src_ / "bin/same.bin", Noise(20000, 1));
    WriteFile(src_ / "samesize.txt", "version one!");
    WriteFile(src_ / "grow.txt", "short");
    WriteFile(src_ / "gone.txt", "removed in v2");
    WriteFile(src_ / "Data/Pack/m1.txt", "member one");
    WriteFile(src_ / "Data/Pack/m2.bin", Noise(3000, 2));
    WriteFile(src_ / "Other/Pack2/x.txt", "untouched package");
  }
  void TearDown() override { RemoveTree(root_); }

  std::string Args(const std::string& folder) const {
    return "'" + src_.string() + "' '" + out_.string() + "' --url-folder " + folder +
           " --package Data/Pack --package Other/Pack2";
  }
  void ChangeToV2() {
    WriteFile(src_ / "samesize.txt", "version two!");
    WriteFile(src_ / "grow.txt", "much longer than before");
    fs::remove(src_ / "gone.txt");
    WriteFile(src_ / "new.txt", "added in v2");
    WriteFile(src_ / "Data/Pack/m1.txt", "member one, changed");
  }

  std::string root_;
  fs::path src_, out_;
};

TEST_F(PublishVersion, SecondVersionLinksUnchangedAndStoresChanged) {
  ASSERT_EQ(Publish(Args("v1")), 0);
  const std::string v1 = ReadText(out_ / "FileList.dat");
  ChangeToV2();
  std::string json;
  ASSERT_EQ(Publish(Args("v2") + " --json", &json), 0);

  for (const char* same : {"keep.txt", "bin/same.bin", "Other/Pack2.pack"}) {
    EXPECT_TRUE(fs::equivalent(out_ / "v1" / same, out_ / "v2" / same)) << same;
  }
  for (const char* changed : {"samesize.txt", "grow.txt", "Data/Pack.pack"}) {
    EXPECT_NE(ReadText(out_ / "v1" / changed), ReadText(out_ / "v2" / changed)) << changed;
  }
  EXPECT_FALSE(fs::exists(out_ / "v2/gone.txt"));

  const std::string v2 = ReadText(out_ / "FileList.dat");
  const auto lines = ParseFileList(v2);
  EXPECT_EQ(lines.count("gone.txt"), 0u);
  for (const auto& [name, line] : lines) EXPECT_EQ(line.urlFolder, "v2") << name;
  ExpectServable(out_, v2);
  Bytes decoded;
  ASSERT_TRUE(Decode(ReadFileBytes((out_ / "v2/grow.txt").string()), 100, decoded));
  EXPECT_EQ(std::string(decoded.begin(), decoded.end()), "much longer than before");

  // The previous version is untouched and each version keeps its catalogue.
  ExpectServable(out_, v1);
  EXPECT_EQ(ReadText(out_ / "v1/FileList.dat"), v1);
  EXPECT_EQ(ReadText(out_ / "v2/FileList.dat"), v2);

  // Reuse gives what a fresh publish gives: same catalogue, byte for byte.
  const fs::path fresh = fs::path(root_) / "fresh";
  ASSERT_EQ(Publish("'" + src_.string() + "' '" + fresh.string() +
                    "' --url-folder v2 --package Data/Pack --package Other/Pack2"),
            0);
  EXPECT_EQ(ReadText(fresh / "FileList.dat"), v2);

  const long long keepBytes = lines.at("keep.txt").packedSize;
  EXPECT_NE(json.find("\"changed\":{\"count\":3,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"added\":{\"count\":1,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"removed\":{\"count\":1,"), std::string::npos) << json;
  const long long reusedBytes = keepBytes + lines.at("bin\\same.bin").packedSize +
                                lines.at("Other\\Pack2\\x.txt").packedSize;
  EXPECT_NE(json.find("\"reused\":{\"count\":3,\"bytes\":" + std::to_string(reusedBytes) + "}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"previousUrlFolders\":[\"v1\"]"), std::string::npos) << json;
  EXPECT_EQ(json.find('\n'), json.size() - 1);  // one object
}

TEST_F(PublishVersion, PreviousStoredFileThatIsMissingOrShortIsStoredAnew) {
  ASSERT_EQ(Publish(Args("v1")), 0);
  fs::remove(out_ / "v1/keep.txt");
  fs::resize_file(out_ / "v1/Other/Pack2.pack", 10);
  std::string json;
  ASSERT_EQ(Publish(Args("v2") + " --json", &json), 0);
  EXPECT_NE(json.find("\"storedAnew\":2"), std::string::npos) << json;
  EXPECT_FALSE(fs::equivalent(out_ / "v1/Other/Pack2.pack", out_ / "v2/Other/Pack2.pack"));
  ExpectServable(out_, ReadText(out_ / "FileList.dat"));
}

TEST_F(PublishVersion, FolderOfThePreviousOrAnEarlierVersionIsRefusedAndNothingChanges) {
  ASSERT_EQ(Publish(Args("v1")), 0);
  ChangeToV2();
  const auto before = Snapshot(out_);
  for (const char* folder : {"v1", "V1/", "/v1"}) {
    EXPECT_EQ(Publish(Args(folder)), 1) << folder;
    EXPECT_EQ(Snapshot(out_), before) << folder;
  }
  ASSERT_EQ(Publish(Args("v2")), 0);
  const auto afterV2 = Snapshot(out_);
  EXPECT_EQ(Publish(Args("v1")), 1);  // v1 still has its catalogue copy there
  EXPECT_EQ(Snapshot(out_), afterV2);

  // A name that would take the catalogue's place is refused even in a new tree.
  WriteFile(src_ / "filelist.DAT", "x");
  EXPECT_EQ(Publish("'" + src_.string() + "' '" + root_ + "/other'"), 1);
  EXPECT_FALSE(fs::exists(fs::path(root_) / "other"));
}

TEST_F(PublishVersion, PruneKeepsExactlyWhatTheTwoCataloguesName) {
  ASSERT_EQ(Publish(Args("v1")), 0);
  ChangeToV2();
  ASSERT_EQ(Publish(Args("v2")), 0);
  WriteFile(src_ / "keep.txt", "changed in v3");
  WriteFile(out_ / "stray/old.bin", "not catalogued");
  WriteFile(out_ / "v2/grow.txt.tmp99.0", "leftover of a killed run");
  WriteFile(fs::path(root_) / "outside.txt", "linked from the tree");
  fs::create_symlink(fs::path(root_) / "outside.txt", out_ / "link.txt");

  std::string text;
  ASSERT_EQ(Publish(Args("v3") + " --prune", &text), 0);
  // v1 is neither the new nor the previous version: all of it goes, and the
  // files only v1 named are reported.
  EXPECT_FALSE(fs::exists(out_ / "v1"));
  EXPECT_FALSE(fs::exists(out_ / "stray"));
  EXPECT_FALSE(fs::exists(out_ / "v2/grow.txt.tmp99.0"));
  EXPECT_NE(text.find("removed v1/gone.txt"), std::string::npos) << text;
  EXPECT_NE(text.find("removed stray/"), std::string::npos) << text;
  EXPECT_TRUE(fs::is_symlink(out_ / "link.txt"));
  EXPECT_TRUE(fs::exists(fs::path(root_) / "outside.txt"));

  const std::string v2 = ReadText(out_ / "v2/FileList.dat");
  const std::string v3 = ReadText(out_ / "FileList.dat");
  EXPECT_EQ(ReadText(out_ / "v3/FileList.dat"), v3);
  ExpectServable(out_, v2);
  ExpectServable(out_, v3);
  // Nothing beyond the two versions and the catalogue is left.
  size_t expected = 1 + 2;  // FileList.dat and the two copies
  for (const std::string* catalogue : {&v2, &v3}) {
    for (const auto& [name, line] : ParseFileList(*catalogue)) {
      expected += line.size >= 0 && (line.packageName.empty() || name == "Data\\Pack\\m1.txt" ||
                                     name == "Other\\Pack2\\x.txt");
    }
  }
  size_t regular = 0;
  for (const auto& e : fs::recursive_directory_iterator(out_)) regular += e.is_regular_file() && !e.is_symlink();
  EXPECT_EQ(regular, expected);
}

// Starts the tool and SIGKILLs it once it has put `files` files below `watch`.
bool PublishAndKill(const std::vector<std::string>& args, const fs::path& watch, size_t files) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(kTool.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, kTool.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  bool killed = false;
  while (std::chrono::steady_clock::now() < deadline) {
    size_t seen = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(watch, ec), end; !ec && it != end; it.increment(ec)) {
      seen += it->is_regular_file(ec);
    }
    if (seen >= files) {
      killed = kill(pid, SIGKILL) == 0;
      break;
    }
    if (waitpid(pid, nullptr, WNOHANG) == pid) return false;  // finished first
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  int status = 0;
  if (!killed) kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return killed && WIFSIGNALED(status);
}

TEST_F(PublishVersion, KilledPublishLeavesThePreviousVersionServable) {
  ASSERT_EQ(Publish(Args("v1")), 0);
  const std::string v1 = ReadText(out_ / "FileList.dat");
  ChangeToV2();
  // Enough slow-to-compress content that the publish is far from done when
  // the first few of its files appear.
  for (int i = 0; i < 300; ++i) {
    WriteFile(src_ / "big" / ("b" + std::to_string(i) + ".bin"), Noise(256 << 10, 100 + i));
  }
  ASSERT_TRUE(PublishAndKill({src_.string(), out_.string(), "--url-folder", "v2", "--package",
                              "Data/Pack", "--package", "Other/Pack2", "--level", "9", "--quiet"},
                             out_ / "v2", 8));
  EXPECT_EQ(ReadText(out_ / "FileList.dat"), v1);
  ExpectServable(out_, v1);
  EXPECT_FALSE(fs::exists(out_ / "v2/FileList.dat"));
  // What the killed run left under a final name is complete.
  for (const auto& e : fs::recursive_directory_iterator(out_ / "v2/big")) {
    const std::string name = e.path().filename().string();
    if (name.find(".tmp") != std::string::npos) continue;
    Bytes decoded;
    ASSERT_TRUE(Decode(ReadFileBytes(e.path().string()), 256 << 10, decoded)) << name;
    EXPECT_EQ(std::string(decoded.begin(), decoded.end()), ReadText(src_ / "big" / name)) << name;
  }

  // A retry under the same folder succeeds; --prune clears the leftovers.
  fs::remove_all(src_ / "big");
  ASSERT_EQ(Publish(Args("v2") + " --prune"), 0);
  EXPECT_FALSE(fs::exists(out_ / "v2/big"));
  ExpectServable(out_, ReadText(out_ / "FileList.dat"));
  ExpectServable(out_, v1);
}

}  // namespace
}  // namespace udra::test

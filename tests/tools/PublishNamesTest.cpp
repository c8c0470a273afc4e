// Publishing names outside ASCII: files land under their real names on every
// system, the catalogue carries them as GBK, and a later version finds them
// again through that catalogue.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "Publisher.h"

namespace fs = std::filesystem;
using udra::publish::PublishOptions;
using udra::publish::Publisher;

namespace {

// Names as UTF-8 literals; their GBK spelling as the catalogue must hold it.
const char kNote[] = u8"说明.txt";
const char kMapFolder[] = u8"地图";
const char kMap[] = u8"一.map";
const char kVersion[] = u8"版本1";
const char kNoteGbk[] = "\xCB\xB5\xC3\xF7.txt";
const char kMapGbk[] = "\xB5\xD8\xCD\xBC\\\xD2\xBB.map";
const char kVersionGbk[] = "\xB0\xE6\xB1\xBE" "1";

class PublishNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = fs::temp_directory_path() / ("udra-publish-names-" + std::to_string(stamp));
    fs::create_directories(Src() / fs::u8path(kMapFolder));
    Put(Src() / fs::u8path(kNote), "note bytes");
    Put(Src() / fs::u8path(kMapFolder) / fs::u8path(kMap), std::string(5000, 'm'));
    Put(Src() / "plain.txt", "plain");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  fs::path Src() const { return root_ / "src"; }
  fs::path Out() const { return root_ / "out"; }

  static void Put(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // The names a folder really holds, as UTF-8 (read back from the system, not
  // from the names the test asked for).
  static std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
      names.insert(it->path().filename().u8string());
    return names;
  }

  bool Publish(const std::string& urlFolder, std::string& error, udra::publish::PublishStats* stats = nullptr) {
    PublishOptions options;
    options.source = Src().u8string();
    options.output = Out().u8string();
    options.urlFolder = urlFolder;
    Publisher publisher(options);
    const bool ok = publisher.Run(error);
    if (stats) *stats = publisher.Stats();
    return ok;
  }

  fs::path root_;
};

TEST_F(PublishNamesTest, FilesKeepTheirNamesAndTheCatalogueHoldsGbk) {
  std::string error;
  ASSERT_TRUE(Publish(kVersion, error)) << error;

  EXPECT_EQ(Names(Out()), (std::set<std::string>{"FileList.dat", kVersion}));
  const fs::path version = Out() / fs::u8path(kVersion);
  EXPECT_EQ(Names(version), (std::set<std::string>{"FileList.dat", "plain.txt", kNote, kMapFolder}));
  EXPECT_EQ(Names(version / fs::u8path(kMapFolder)), (std::set<std::string>{kMap}));

  const std::string catalogue = Read(Out() / "FileList.dat");
  EXPECT_NE(catalogue.find(std::string(kNoteGbk) + "|10|"), std::string::npos) << catalogue;
  EXPECT_NE(catalogue.find(std::string(kMapGbk) + "|5000|"), std::string::npos) << catalogue;
  EXPECT_NE(catalogue.find("|" + std::string(kVersionGbk) + "|"), std::string::npos) << catalogue;
  EXPECT_EQ(catalogue.find(kNote), std::string::npos) << "UTF-8 name in the catalogue";
  EXPECT_EQ(catalogue.find('?'), std::string::npos) << "a name was replaced by '?'";
  EXPECT_EQ(Read(version / "FileList.dat"), catalogue);
}

// The next version reads the previous catalogue's GBK names back to find the
// stored files it can reuse.
TEST_F(PublishNamesTest, NextVersionReusesFilesNamedInGbk) {
  std::string error;
  ASSERT_TRUE(Publish(kVersion, error)) << error;
  udra::publish::PublishStats stats;
  ASSERT_TRUE(Publish("v2", error, &stats)) << error;
  EXPECT_EQ(stats.reused.count, 3u);
  EXPECT_EQ(stats.storedAnew, 0u);
  EXPECT_EQ(Names(Out() / "v2"), (std::set<std::string>{"FileList.dat", "plain.txt", kNote, kMapFolder}));
  EXPECT_EQ(Read(Out() / "v2" / fs::u8path(kNote)), Read(Out() / fs::u8path(kVersion) / fs::u8path(kNote)));
}

TEST_F(PublishNamesTest, NameGbkCannotCarryFailsBeforeAnythingIsWritten) {
  Put(Src() / fs::u8path(u8"smile\U0001F600.txt"), "x");
  std::string error;
  EXPECT_FALSE(Publish("v1", error));
  EXPECT_NE(error.find("cannot be written"), std::string::npos) << error;
  EXPECT_NE(error.find(u8"smile\U0001F600.txt"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(Out() / "FileList.dat"));
}

TEST_F(PublishNamesTest, OutputInsideTheSourceIsRefused) {
  std::string error;
  PublishOptions options;
  options.source = Src().u8string();
  for (const fs::path& out : {Src(), Src() / fs::u8path(kMapFolder) / "out", Src() / "." / "x" / ".."}) {
    options.output = out.u8string();
    error.clear();
    EXPECT_FALSE(Publisher(options).Run(error)) << out;
    EXPECT_NE(error.find("inside the source"), std::string::npos) << out << ": " << error;
  }
  // A sibling whose name starts with the source's is outside it.
  options.output = (root_ / "src2").u8string();
  EXPECT_TRUE(Publisher(options).Run(error)) << error;
}

}  // namespace

// The staged udra as a person runs it against an installation served by a
// private nginx: what it says when something is wrong, and what it exits with.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "EndToEndFixture.h"
#include "platform/FileSystem.h"

namespace udra::e2e {
namespace {

struct ToolRun {
  int status = -1;
  std::string out, err;
};

class UdraToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env = std::make_unique<EndToEnd>(std::map<std::string, std::string>{{"Data/Maps/a.map", "map a"},
                                                                        {"Data/Maps/b.map", "map b"},
                                                                        {"Data/gone.txt", "removed from the server"},
                                                                        {"Single.txt", "one file"}},
                                     "");
    ASSERT_TRUE(env->ready());
  }

  // Runs udra with `args` on the installation; --url is the server's root
  // unless `url` says otherwise.
  ToolRun Udra(const std::string& args, const std::string& url = "") {
    const std::string folder = env->install().path();
    const std::string errFile = folder + "/udra.err";
    const std::string command = std::string(UDRA_STAGE_DIR) + "/udra " + args + " --dir " + folder + " --url '" +
                                (url.empty() ? env->server().Url("") : url) + "' 2>" + errFile;
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    platform::ReadWholeFile(errFile, run.err);
    return run;
  }

  std::unique_ptr<EndToEnd> env;
};

TEST_F(UdraToolTest, UsageErrorsExitWithTwoBeforeAnythingStarts) {
  for (const char* args : {"sync", "sync --cache abc Data", "stat", "ls --timeout 0", "init Data", "nonsense"}) {
    const ToolRun run = Udra(args);
    EXPECT_EQ(run.status, 2) << args << ": " << run.err;
    EXPECT_NE(run.err.find("usage:"), std::string::npos) << args;
  }
  EXPECT_NE(Udra("sync --cache abc Data").err.find("--cache"), std::string::npos);
}

TEST_F(UdraToolTest, PathsAreShownAsTheCatalogueSpellsThemAndUnknownOnesFail) {
  ToolRun run = Udra("sync data/maps");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Data\\Maps: done ("), std::string::npos) << run.out;
  run = Udra("sync data/nothing-here");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("data/nothing-here: not catalogued"), std::string::npos) << run.err;
  run = Udra("stat single.TXT");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Single.txt: file"), std::string::npos) << run.out;
  // ls without a path lists the whole catalogue.
  run = Udra("ls");
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* key : {"Data\\", "Data\\Maps\\a.map", "Data\\gone.txt", "Single.txt"})
    EXPECT_NE(run.out.find(key), std::string::npos) << key << " in\n" << run.out;
}

TEST_F(UdraToolTest, AFailedSyncSaysWhatFailedAndWhy) {
  std::filesystem::remove(env->server().root() + "/v1/Data/gone.txt");
  ToolRun run = Udra("sync --json Data/gone.txt");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("\"httpStatus\":404"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"reason\":"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("/v1/Data/gone.txt"), std::string::npos) << "the URL is named: " << run.out;
  run = Udra("sync Data/gone.txt");
  EXPECT_NE(run.out.find("(HTTP 404)"), std::string::npos) << run.out;

  // A URL root without a scheme is refused by the host, not looked up.
  run = Udra("sync --json Single.txt", "v1/content");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("no scheme"), std::string::npos) << run.out;
}

TEST_F(UdraToolTest, PreDownloadSyncsTheUsersListInsteadOfTheVersions) {
  const std::string folder = env->install().path();
  env->install().Write("UDRAConfig.ini", "[VER_Default]\nPreDownloadPackageCount=1\nPreDownloadPackage0=Data\n");
  ToolRun run = Udra("predownload");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Data: done"), std::string::npos) << run.out;

  env->install().Write("UIOptions.ini", "[OptionPreDown]\nPreDownPath=mine.ini\n");
  env->install().Write("mine.ini", "[Setting]\nNum=2\n[Index]\nIndex0=single.txt\nIndex1=Nowhere\n");
  run = Udra("predownload --json");
  EXPECT_EQ(run.status, 1) << "one name is not catalogued";
  EXPECT_NE(run.out.find("\"path\":\"Single.txt\""), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("\"path\":\"Data\""), std::string::npos) << "the version's list is replaced: " << run.out;
  EXPECT_NE(run.err.find("Nowhere: not catalogued"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace udra::e2e

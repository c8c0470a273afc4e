// With a "ZAV.dll" that has no digest extension the library and the host
// behave as they always did: nothing is reconciled, checked or dropped.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "EndToEndFixture.h"

namespace udra::e2e {
namespace {
namespace fs = std::filesystem;

std::string Logs(const std::string& install) {
  std::string all;
  for (const auto& file : fs::directory_iterator(install + "/Logs")) {
    std::ifstream in(file.path(), std::ios::binary);
    all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return all;
}

TEST(PlainStoreTest, NoExtensionMeansNoReconcileAndNoDrop) {
  const std::map<std::string, std::string> v1 = {{"Data/a.txt", "version one"}, {"Data/b.txt", "kept"}};
  EndToEnd env(v1, "");
  ASSERT_TRUE(env.ready());
  fs::copy_file(UDRA_PLAIN_STORE, env.install() / "ZAV.dll", fs::copy_options::overwrite_existing);
  env.Start();
  ASSERT_EQ(env.session().initResult(), 1);
  SyncInfo info{};
  ASSERT_TRUE(env.SyncAndWait("Data", info));
  EXPECT_EQ(info.state, UDRA_SYNC_DONE);

  // A new version: with no digests the old entry still counts as present,
  // and its (old) bytes fail the catalogue's size without being dropped.
  ASSERT_TRUE(env.Publish({{"Data/a.txt", "version two, longer"}, {"Data/b.txt", "kept"}}, "", "v2"));
  env.Restart();
  ASSERT_EQ(env.session().initResult(), 1);
  EXPECT_TRUE(env.manager()->IsFileInArchive("Data/a.txt"));
  EXPECT_EQ(env.ReadFile("Data/a.txt"), "<read failed>");
  EXPECT_TRUE(env.manager()->IsFileInArchive("Data/a.txt"));
  EXPECT_EQ(env.ReadFile("Data/b.txt"), "kept");
  env.session().Shutdown();
  const std::string logs = Logs(env.install().path());
  EXPECT_EQ(logs.find("ReconcileStore"), std::string::npos);
  EXPECT_EQ(logs.find("removed from the store"), std::string::npos);
}

}  // namespace
}  // namespace udra::e2e

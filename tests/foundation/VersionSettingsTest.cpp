#include <gtest/gtest.h>

#include "config/VersionSettings.h"
#include "platform/Profile.h"
#include "support/OsSupport.h"
#include "support/TempDir.h"

namespace udra {
namespace {

class VersionSettingsTest : public ::testing::Test {
 protected:
  VersionSettings Load() {
    VersionSettings settings;
    settings.Load(dir.path());
    return settings;
  }
  test::TempDir dir;
};

TEST_F(VersionSettingsTest, WithoutPointerEverythingComesFromDefault) {
  dir.Write("UDRAConfig.ini", "[VER_Default]\nFileListPath=lists\\FileList.dat\nDownloadUrlRoot=http://h/r\n");
  const VersionSettings s = Load();
  EXPECT_EQ(s.section(), "VER_Default");
  EXPECT_EQ(s.FileListPath(), "lists\\FileList.dat");
  EXPECT_EQ(s.DownloadUrlRoot(), "http://h/r");
}

TEST_F(VersionSettingsTest, PointerSelectsTheVersionSection) {
  EXPECT_EQ(VersionSettings::ChooseSection(dir.path(), "ver.ini;Game;Version"), "VER_NoVersionFile");
  dir.Write("ver.ini", "[Game]\nVersion=2.1\n");
  EXPECT_EQ(VersionSettings::ChooseSection(dir.path(), "ver.ini;Game;Version"), "VER_2.1");
  EXPECT_EQ(VersionSettings::ChooseSection(dir.path(), "ver.ini;;Game;;Version"), "VER_2.1");
  EXPECT_EQ(VersionSettings::ChooseSection(dir.path(), "ver.ini;Game"), "VER_NoVersionFile");
  EXPECT_EQ(VersionSettings::ChooseSection(dir.path(), "ver.ini;Game;"), "VER_NoVersionFile");
  EXPECT_EQ(VersionSettings::ChooseSection(dir.path(), "ver.ini"), "VER_NoVersionFile");
  EXPECT_EQ(VersionSettings::ChooseSection(dir.path(), "ver.ini;Game;Missing"), "VER_Default");
}

TEST_F(VersionSettingsTest, MissingKeysFallBackOneByOneButEmptyValuesDoNot) {
  dir.Write("ver.ini", "[Game]\nVersion=2.1\n");
  dir.Write("UDRAConfig.ini",
            "[VersionConfig]\nUDRAVersion=ver.ini;Game;Version\n"
            "[VER_2.1]\nDownloadUrlRoot=\n"
            "[VER_Default]\nFileListPath=default.dat\nDownloadUrlRoot=http://default\n");
  const VersionSettings s = Load();
  EXPECT_EQ(s.section(), "VER_2.1");
  EXPECT_EQ(s.FileListPath(), "default.dat");
  EXPECT_EQ(s.DownloadUrlRoot(), "");
}

TEST_F(VersionSettingsTest, UserPreDownloadListSkipsEmptyItemsAndWins) {
  dir.Write("UIOptions.ini", "[OptionPreDown]\nPreDownPath=user\\pre.ini\n");
  dir.Write("user/pre.ini", "[Setting]\nNum=3\n[Index]\nIndex0=a.pack\nIndex1=\nIndex2=c.pack\n");
  dir.Write("UDRAConfig.ini", "[VER_Default]\nPreDownloadPackageCount=1\nPreDownloadPackage0=config.pack\n");
  EXPECT_EQ(Load().PreDownloadPackages(), (std::vector<std::string>{"a.pack", "c.pack"}));
}

TEST_F(VersionSettingsTest, VersionListAppliesWhenTheUserListIsEmpty) {
  dir.Write("ver.ini", "[Game]\nVersion=3\n");
  dir.Write("UDRAConfig.ini",
            "[VersionConfig]\nUDRAVersion=ver.ini;Game;Version\n"
            "[VER_3]\nPreDownloadPackage0=ignored\n"
            "[VER_Default]\nPreDownloadPackageCount=2\nPreDownloadPackage0=d0\nPreDownloadPackage1=d1\n");
  // No count in the version section: count and items come from VER_Default.
  EXPECT_EQ(Load().PreDownloadPackages(), (std::vector<std::string>{"d0", "d1"}));
  dir.Write("UDRAConfig.ini",
            "[VersionConfig]\nUDRAVersion=ver.ini;Game;Version\n"
            "[VER_3]\nPreDownloadPackageCount=1\nPreDownloadPackage0=v0\n"
            "[VER_Default]\nPreDownloadPackageCount=2\nPreDownloadPackage0=d0\nPreDownloadPackage1=d1\n");
  EXPECT_EQ(Load().PreDownloadPackages(), (std::vector<std::string>{"v0"}));
}

TEST_F(VersionSettingsTest, ListsOfAnyLengthAreReadWholeInNumberOrder) {
  std::string config = "[VER_Default]\nPreDownloadPackageCount=5000\n";
  for (int i = 4999; i >= 0; --i)  // file order is not number order
    config += "PreDownloadPackage" + std::to_string(i) + "=p" + std::to_string(i) + "\n";
  dir.Write("UDRAConfig.ini", config);
  std::vector<std::string> expected;
  for (int i = 0; i < 5000; ++i) expected.push_back("p" + std::to_string(i));
  EXPECT_EQ(Load().PreDownloadPackages(), expected);

  std::string user = "[Setting]\nNum=6000\n[Index]\n";
  for (int i = 0; i < 6000; ++i) user += "Index" + std::to_string(i) + "=u" + std::to_string(i) + "\n";
  dir.Write("UIOptions.ini", "[OptionPreDown]\nPreDownPath=pre.ini\n");
  dir.Write("pre.ini", user);
  const std::vector<std::string> packages = Load().PreDownloadPackages();
  ASSERT_EQ(packages.size(), 6000u);
  EXPECT_EQ(packages[4096], "u4096");
  EXPECT_EQ(packages.back(), "u5999");
}

TEST_F(VersionSettingsTest, OnlyKeysTheCountNamesAreItems) {
  const auto withCount = [&](const std::string& count) {
    dir.Write("UDRAConfig.ini",
              "[VER_Default]\nPreDownloadPackageCount=" + count +
                  "\n"
                  "PreDownloadPackage0=zero\n"
                  "PREDOWNLOADPACKAGE1=one\n"        // names compare in any case
                  "predownloadpackage1=duplicate\n"  // the first of a name counts
                  "PreDownloadPackage02=leading zero\n"
                  "PreDownloadPackage+3=sign\n"
                  "PreDownloadPackage 3=blank\n"
                  "PreDownloadPackage3=\n"  // empty: skipped, the list goes on
                  "PreDownloadPackage4=four\n"
                  "PreDownloadPackage99999999999=too large\n");
    return Load().PreDownloadPackages();
  };
  EXPECT_EQ(withCount("5"), (std::vector<std::string>{"zero", "one", "four"}));
  EXPECT_EQ(withCount("2"), (std::vector<std::string>{"zero", "one"}));
  // A damaged count costs no more than the keys the file holds.
  EXPECT_EQ(withCount("2147483647"), (std::vector<std::string>{"zero", "one", "four"}));
  EXPECT_TRUE(withCount("0").empty());
  EXPECT_TRUE(withCount("-3").empty());
}

TEST_F(VersionSettingsTest, AFifoInPlaceOfAnIniReadsAsMissing) {
  // Opening a FIFO for reading would wait for a writer that never comes.
  if (test::kOnWindows) GTEST_SKIP() << "Windows has no FIFOs in the file system";
  ASSERT_TRUE(test::MakeFifo(dir / "UDRAConfig.ini"));
  ASSERT_TRUE(test::MakeFifo(dir / "ver.ini"));
  ASSERT_TRUE(test::MakeFifo(dir / "pre.ini"));
  dir.Write("UIOptions.ini", "[OptionPreDown]\nPreDownPath=pre.ini\n");
  VersionSettings s = Load();
  EXPECT_EQ(s.section(), "VER_Default");
  EXPECT_EQ(s.FileListPath(), "");
  EXPECT_TRUE(s.PreDownloadPackages().empty());
  EXPECT_EQ(VersionSettings::ChooseSection(dir.path(), "ver.ini;Game;Version"), "VER_Default");

  std::string value;
  EXPECT_FALSE(platform::ReadProfileString(dir / "pre.ini", "Setting", "Num", value));
  EXPECT_EQ(platform::ReadProfileInt(dir / "pre.ini", "Setting", "Num", 7), 7);
  EXPECT_FALSE(platform::WriteProfileString(dir / "pre.ini", "Setting", "Num", "1"));
}

}  // namespace
}  // namespace udra

#include <gtest/gtest.h>

#include "config/VersionSettings.h"
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

}  // namespace
}  // namespace udra

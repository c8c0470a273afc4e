// The manager as a game gets it: the built library copied into a fresh
// installation folder and loaded by path.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/Module.h"
#include "platform/Profile.h"
#include "platform/VersionRecord.h"
#include "support/TempDir.h"
#include "udra/Diagnostics.h"

namespace udra {
namespace {

class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", (home.path()).c_str(), 1);
    std::filesystem::copy_file(UDRA_LIBRARY_FILE, install / "libUDRAClient.so");
  }
  void TearDown() override {
    if (manager) release(manager);
    // The library stays loaded, as in a game: each test loads its own copy.
  }

  IResourceManager* Load() {
    module = platform::LoadModule(install / "libUDRAClient.so");
    EXPECT_NE(module, nullptr);
    get = reinterpret_cast<UDRA_GetResourceManagerFn>(platform::ModuleSymbol(module, "GetResourceManager"));
    release = reinterpret_cast<UDRA_ReleaseResourceManagerFn>(platform::ModuleSymbol(module, "ReleaseResourceManager"));
    manager = get();
    return manager;
  }
  UDRAManagerInfo Info() {
    auto info = reinterpret_cast<UDRA_GetManagerInfoFn>(platform::ModuleSymbol(module, "udra_get_manager_info"));
    UDRAManagerInfo out{};
    EXPECT_EQ(info(manager, &out), 0);
    return out;
  }

  test::TempDir install, home;
  platform::ModuleHandle module = nullptr;
  UDRA_GetResourceManagerFn get = nullptr;
  UDRA_ReleaseResourceManagerFn release = nullptr;
  IResourceManager* manager = nullptr;
};

TEST_F(ManagerTest, FreshManagerState) {
  IResourceManager* m = Load();
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(get(), m);
  char text[8] = "xxxxxxx";
  EXPECT_EQ(m->GetErrorInfo(text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_FALSE(m->Reserved(1, 2));
  EXPECT_EQ(m->GetHostValue1(), 0);
  EXPECT_EQ(m->GetHostValue2(), 0);
  EXPECT_FALSE(m->Initialize(nullptr, 100));
  EXPECT_FALSE(m->Initialize("file:///x", 0));
  release(nullptr);

  const UDRAManagerInfo info = Info();
  EXPECT_STREQ(info.version, "UDRA v0.0.0.0");  // no host executable
  EXPECT_STREQ(info.uin, "NOT SET UIN");
  EXPECT_STREQ(info.versionSection, "VER_Default");
  EXPECT_EQ(std::string(info.moduleFolder), std::filesystem::canonical(install.path()).string());
}

TEST_F(ManagerTest, VersionTextComesFromTheHostExecutable) {
  install.Write("UDRAHostApp.exe", std::string("\x7f" "ELF junk") + UDRA_VERSION_MARKER + "1.2.3.45" + '\0' + "tail");
  Load();
  EXPECT_STREQ(Info().version, "UDRA v1.2.3.45");
}

TEST_F(ManagerTest, ClientGuidIsCreatedOnceAndKept) {
  Load();
  const std::string guid = Info().clientGuid;
  ASSERT_EQ(guid.size(), 38u);
  std::string stored;
  ASSERT_TRUE(platform::ReadProfileString(home / "Pellarn/Vastrim/Common.ini", "QOS", "GUID", stored));
  EXPECT_EQ(stored, guid);
  release(manager);
  manager = get();  // a new manager after release reads the same GUID
  EXPECT_EQ(std::string(Info().clientGuid), guid);
}

TEST_F(ManagerTest, EmptyStoredGuidIsReplaced) {
  home.Write("Pellarn/Vastrim/Common.ini", "[QOS]\nGUID=\n");
  Load();
  std::string stored;
  ASSERT_TRUE(platform::ReadProfileString(home / "Pellarn/Vastrim/Common.ini", "QOS", "GUID", stored));
  EXPECT_EQ(stored.size(), 38u);
}

TEST_F(ManagerTest, ConfiguredFileListAndVersionSection) {
  install.Write("ver.ini", "[Game]\nVersion=1.0.3\n");
  install.Write("UDRAConfig.ini",
                "[VersionConfig]\nUDRAVersion=ver.ini;Game;Version\n[VER_1.0.3]\nFileListPath=lists\\Files.dat\n");
  Load();
  const UDRAManagerInfo info = Info();
  EXPECT_STREQ(info.versionSection, "VER_1.0.3");
  EXPECT_STREQ(info.fileListPath, "lists\\Files.dat");
}

TEST_F(ManagerTest, ChineseLogTextsAreGbkBytes) {
  install.Write("LogConfig.ini", "[Default]\nWriteToLogFile=E\n");
  Load();
  auto attach = reinterpret_cast<UDRA_AttachFn>(platform::ModuleSymbol(module, "udra_attach_store_and_catalogue"));
  EXPECT_NE(attach(manager, 1024), 0);  // no ZAV.dll in the folder
  std::string log;
  for (const auto& entry : std::filesystem::directory_iterator(install / "Logs")) log += install.Read("Logs/" + entry.path().filename().string());
  // "ResourceManager::Initialize()中装载ZAV.dll失败" in code page 936.
  EXPECT_NE(log.find("[E]ResourceManager::Initialize()\xD6\xD0\xD7\xB0\xD4\xD8ZAV.dll\xCA\xA7\xB0\xDC\n"), std::string::npos)
      << log;
}

}  // namespace
}  // namespace udra

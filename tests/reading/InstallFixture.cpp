#include "InstallFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include "core/IZav.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

namespace udra::test {
namespace fs = std::filesystem;

Installation::Installation(const std::map<std::string, std::string>& files,
                           const std::vector<std::string>& packages) {
  setenv("XDG_CONFIG_HOME", home_.path().c_str(), 1);
  for (const auto& [name, bytes] : files) work_.Write("src/" + name, bytes);
  std::string command = std::string(UDRA_STAGE_DIR) + "/udra-publish " + (work_ / "src") + " " +
                        (work_ / "out") + " --url-folder v1 --quiet";
  for (const std::string& p : packages) command += " --package " + p;
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  for (const char* name : {"libUDRAClient.so", "ZAV.dll", "LZMA.DLL", "UDRAHostApp.exe"})
    fs::copy_file(std::string(UDRA_STAGE_DIR) + "/" + name, install_ / name);
  fs::copy_file(work_ / "out/FileList.dat", install_ / "FileList.dat");
  FillStore(work_ / "out");
}

Installation::~Installation() { Release(); }

void Installation::FillStore(const std::string& published) {
  platform::ModuleHandle module = platform::LoadModule(install_ / "ZAV.dll");
  ASSERT_NE(module, nullptr);
  auto get = reinterpret_cast<GetZavFn>(platform::ModuleSymbol(module, kGetZavExport));
  auto release = reinterpret_cast<ReleaseZavFn>(platform::ModuleSymbol(module, kReleaseZavExport));
  IZav* zav = get();
  ASSERT_TRUE(zav->Create((install_ / "UDRADownload").c_str(), 0, 0));
  std::istringstream list(install_.Read("FileList.dat"));
  std::set<std::string> stored;
  for (std::string line; std::getline(list, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> columns;
    std::istringstream fields(line);
    for (std::string c; std::getline(fields, c, '|');) columns.push_back(c);
    if (columns.size() < 7 || columns[1] == "-1") continue;
    const std::string name = columns[6] == ":" ? columns[0] : columns[6];
    if (!stored.insert(name).second) continue;
    // The published tree names files in UTF-8, as their URLs do.
    std::string relative = platform::AnsiToUtf8(columns[5] + "/" + name);
    for (char& c : relative)
      if (c == '\\') c = '/';
    std::string bytes;
    ASSERT_TRUE(platform::ReadWholeFile(published + "/" + relative, bytes)) << relative;
    ASSERT_TRUE(zav->PutEntry(name.c_str(), bytes.data(), uint32_t(bytes.size()))) << name;
  }
  ASSERT_TRUE(zav->Close());
  release(zav);
  platform::FreeModule(module);
}

IResourceManager* Installation::Open(uint32_t cacheLimit) {
  session_ = std::make_unique<tool::GameSession>();
  std::string error;
  EXPECT_TRUE(session_->Open(install_.path(), error)) << error;
  EXPECT_TRUE(session_->Initialize("file:///nowhere", cacheLimit, 30000, error)) << error;
  return session_->manager();
}

void Installation::Release() { session_.reset(); }

}  // namespace udra::test

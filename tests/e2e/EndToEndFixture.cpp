#include "EndToEndFixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace udra::e2e {
namespace fs = std::filesystem;

EndToEnd::EndToEnd(const std::map<std::string, std::string>& files, const std::string& package,
                   const std::string& hostIni, const std::string& clientIni) {
  setenv("XDG_CONFIG_HOME", home_.path().c_str(), 1);
  nginx_ = std::make_unique<hosttest::Nginx>(work_ / "nginx");
  if (!nginx_->Start()) return;
  if (!Publish(files, package, "v1")) return;
  for (const char* name : {"libUDRAClient.so", "ZAV.dll", "LZMA.DLL", "UDRAHostApp.exe", "UDRAStats.dll"})
    fs::copy_file(std::string(UDRA_STAGE_DIR) + "/" + name, install_ / name);
  fs::permissions(install_ / "UDRAHostApp.exe", fs::perms::owner_all, fs::perm_options::add);
  install_.Write("UDRAHostApp.ini", "[Host]\nMaxRetries=0\nLowSpeedTimeout=3\nNoGameExit=5\n" + hostIni);
  install_.Write("UDRAClient.ini", clientIni.empty() ? "[Stats]\nShow=1\n[ZEPH]\nReportInterval=0\n" : clientIni);
  install_.Write("LogConfig.ini", "[Default]\nWriteToLogFile=ETWV\n");
  ready_ = true;
}

bool EndToEnd::Publish(const std::map<std::string, std::string>& files, const std::string& package,
                       const std::string& urlFolder) {
  const std::string source = "src" + std::to_string(++published_);
  for (const auto& [name, bytes] : files) work_.Write(source + "/" + name, bytes);
  std::string command = std::string(UDRA_STAGE_DIR) + "/udra-publish " + (work_ / source) + " " + nginx_->root() +
                        " --url-folder " + urlFolder + " --quiet > /dev/null";
  if (!package.empty()) command += " --package " + package;
  if (std::system(command.c_str()) != 0) return false;
  std::error_code ec;
  fs::copy_file(nginx_->root() + "/FileList.dat", install_ / "FileList.dat", fs::copy_options::overwrite_existing, ec);
  return !ec;
}

tool::GameSession& EndToEnd::Restart(uint32_t cacheLimit) {
  session_.reset();
  return Start(cacheLimit);
}

EndToEnd::~EndToEnd() {
  session_.reset();  // Uninitialize; the host ends once this process is gone
  const int pid = HostPid();
  if (pid > 0) kill(pid, SIGKILL);
}

tool::GameSession& EndToEnd::Start(uint32_t cacheLimit) {
  session_ = std::make_unique<tool::GameSession>();
  std::string error;
  EXPECT_TRUE(session_->Open(install_.path(), error)) << error;
  EXPECT_TRUE(session_->Initialize(nginx_->Url(""), cacheLimit, 30000, error)) << error;
  return *session_;
}

bool EndToEnd::SyncAndWait(const std::string& path, SyncInfo& info, uint32_t timeoutMs) {
  return session_->Sync(path, 0, timeoutMs, nullptr, info);
}

std::string EndToEnd::ReadFile(const std::string& key) {
  const int32_t handle = manager()->OpenFile(key.c_str(), "r");
  if (handle == -1) return "<cannot open>";
  std::string out;
  for (;;) {
    char buffer[50000];
    uint32_t size = sizeof buffer;
    if (!manager()->ReadOpenFile(handle, buffer, &size, 0)) {
      out = "<read failed>";
      break;
    }
    if (size == 0) break;
    out.append(buffer, size);
  }
  manager()->CloseFile(handle);
  return out;
}

int EndToEnd::HostPid() const { return hosttest::RunningPidOf(install_ / "UDRAHostApp.exe"); }

}  // namespace udra::e2e

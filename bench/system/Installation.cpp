#include "Installation.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Measure.h"
#include "host/HostTestEnv.h"
#include "util/Md5.h"

namespace udra::sysbench {
namespace fs = std::filesystem;

Installation::Installation(const std::string& catalogue, const std::string& hostIni) {
  std::error_code ec;
  for (const char* name : {"libUDRAClient.so", "ZAV.dll", "LZMA.DLL", "UDRAHostApp.exe"}) {
    fs::copy_file(fs::path(UDRA_STAGE_DIR) / name, fs::path(dir_.path()) / name, ec);
    if (ec) return;
  }
  fs::permissions(dir_ / "UDRAHostApp.exe", fs::perms::owner_all, fs::perm_options::add, ec);
  // The catalogue is only read: a link spares copying a large one for every run.
  fs::create_hard_link(catalogue, dir_ / "FileList.dat", ec);
  if (ec) {
    ec.clear();
    fs::copy_file(catalogue, dir_ / "FileList.dat", ec);
    if (ec) return;
  }
  dir_.Write("UDRAHostApp.ini", "[Host]\n" + hostIni);
  // No statistics component and no QoS report: neither is part of what is measured.
  dir_.Write("UDRAClient.ini", "[Stats]\nShow=0\n[ZEPH]\nReportInterval=0\n");
  // Errors and warnings only, as a shipped game would log.
  dir_.Write("LogConfig.ini", "[Default]\nWriteToLogFile=EW\n");
  ready_ = true;
}

Installation::~Installation() {
  session_.reset();  // Uninitialize and unload
  EndHost();
}

bool Installation::Open(std::string& error) {
  session_ = std::make_unique<tool::GameSession>();
  return session_->Open(dir_.path(), error);
}

bool Installation::Initialize(const std::string& urlRoot, double& seconds, std::string& error) {
  const auto start = Clock::now();
  const bool ok = session_->Initialize(urlRoot, 64u << 20, 120000, error);
  seconds = SecondsSince(start);
  return ok;
}

std::string Installation::ReadDigest(const std::string& path) {
  IResourceManager* m = manager();
  const int32_t handle = m->OpenFile(path.c_str(), "r");
  if (handle == -1) return "";
  Md5 md5;
  std::string buffer(1 << 20, '\0');
  bool ok = true;
  for (;;) {
    uint32_t size = static_cast<uint32_t>(buffer.size());
    if (!m->ReadOpenFile(handle, buffer.data(), &size, 0)) {
      ok = false;
      break;
    }
    if (size == 0) break;
    md5.Update(buffer.data(), size);
  }
  m->CloseFile(handle);
  uint8_t digest[16];
  md5.Final(digest);
  return ok ? Md5::ToHex(digest) : "";
}

int Installation::HostPid() const { return hosttest::RunningPidOf(dir_ / "UDRAHostApp.exe"); }

double Installation::HostCpuSeconds() const {
  const int pid = HostPid();
  if (pid <= 0) return -1;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The command name may hold spaces: the fields after it start past its ')'.
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int index = 3; fields >> field && index <= 15; ++index) {
    if (index == 14 || index == 15) ticks += std::atof(field.c_str());  // utime, stime
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void Installation::EndHost() {
  const int pid = HostPid();
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  // Wait until it is gone, so the folder can go; the library launched it as
  // a child of this process, so reap it too (a no-op for any other process).
  for (int i = 0; i < 200 && HostPid() == pid; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  waitpid(pid, nullptr, WNOHANG);
}

}  // namespace udra::sysbench

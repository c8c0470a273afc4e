// UDRAHostApp.exe: the downloader host of one installation. It lives in the
// installation folder, downloads what the game's library asks for into the
// archive store beside it and answers over the installation's pipe.
#include "host/CurlApi.h"

#include <atomic>
#include <chrono>
#include <filesystem>

#include "host/DownloadEngine.h"
#include "host/DownloadTable.h"
#include "host/HostSettings.h"
#include "host/Outbox.h"
#include "host/PipeLink.h"
#include "host/ShareStateBlock.h"
#include "host/StoreLink.h"
#include "log/Logger.h"
#include "platform/NamedMutex.h"
#include "platform/StopSignals.h"
#include "platform/System.h"
#include "platform/VersionRecord.h"
#include "util/Paths.h"

UDRA_DEFINE_VERSION_RECORD("1.0.0.1");

namespace {

std::atomic<bool> g_stop{false};

constexpr uint32_t kClaimWaitMs = 2000;
constexpr uint32_t kClaimIntervalMs = 20;

// A shared object is refused when something of its name is not this user's
// own private object: say so, since the cure is to remove it.
const char* ForeignObjectHint(int error) {
  return udra::platform::IsAccessDenied(error)
             ? "; an object of that name that is not this user's own private one is never used"
             : "";
}

// Partial files nobody asked for again within a week are removed.
void RemoveStaleParts(const std::string& storeFolder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path temp = fs::path(storeFolder) / "HostTemp";
  const auto limit = fs::file_time_type::clock::now() - std::chrono::hours(24 * 7);
  for (fs::directory_iterator it(temp, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ignored;
    if (it->path().extension() == ".part" && it->last_write_time(ignored) < limit) fs::remove(it->path(), ignored);
  }
}

int RunHost(const std::string& folder, const udra::Logger& log) {
  using namespace udra;
  using namespace udra::host;
  const std::string key = InstanceKey();
  // One host per installation: the instance mutex is held for the host's
  // life. A host that is just ending may still hold it: the claim is tried
  // for a moment before this host gives way.
  std::unique_ptr<platform::NamedMutex> instance;
  for (uint32_t start = platform::TickCount(); !instance; platform::SleepMs(kClaimIntervalMs)) {
    instance = platform::NamedMutex::CreateOrOpen(key, true);
    if (instance) break;
    const std::string problem = platform::LocalObjectsProblem();
    if (!problem.empty()) {
      log.Format(Logger::E, "UDRAHostApp: %s", problem.c_str());
      return 6;
    }
    if (platform::TickCount() - start >= kClaimWaitMs) {
      log.Write(Logger::T, "UDRAHostApp: another host serves this installation");
      return 0;
    }
  }
  const HostSettings settings = LoadHostSettings(JoinPath(folder, kHostIniName));

  // The table and the shared state exist before the pipe: a game that
  // connects finds them.
  int error = 0;
  DownloadTable table;
  if (!table.Open(key, &error)) {
    log.Format(Logger::E, "UDRAHostApp: cannot create the downloading-file table: %s (%d)%s",
               platform::SystemErrorText(error).c_str(), error, ForeignObjectHint(error));
    return 2;
  }
  ShareStateBlock state;
  if (!state.Open(ShareStateKey(), &error)) {
    log.Format(Logger::E, "UDRAHostApp: cannot create the shared state: %s (%d)%s",
               platform::SystemErrorText(error).c_str(), error, ForeignObjectHint(error));
    return 2;
  }
  StoreLink store;
  if (!store.Load(folder, settings.reservedSize)) {
    log.Write(Logger::E, "UDRAHostApp: cannot load ZAV.dll");
    return 3;
  }
  if (!store.isOpen()) log.Write(Logger::E, "UDRAHostApp: the store does not open yet");
  RemoveStaleParts(store.storeFolder());

  platform::Event wake;
  Outbox outbox(wake);
  DownloadEngine engine(settings, store, table, &state, outbox, log);
  if (!engine.Start()) {
    log.Write(Logger::E, "UDRAHostApp: cannot start the download engine");
    return 4;
  }
  PipeLink link(outbox, wake, engine, log, settings.noGameExitSeconds);
  if (!link.Create(key)) return 5;
  log.Format(Logger::T, "UDRAHostApp: serving %s", folder.c_str());
  link.Run(g_stop);
  engine.Stop();
  link.Flush(1000);
  state.SetWord(0);
  log.Write(Logger::T, "UDRAHostApp: end");
  return 0;
}

}  // namespace

int main() {
  udra::platform::WatchStopRequests(g_stop);
  // Every small download passes through a buffer of its own: keep freed
  // memory for the next ones instead of giving it back and faulting it in
  // again thousands of times a second.
  udra::platform::KeepFreedMemory(64 << 20);
  std::string folder;
  if (!udra::ModuleFolder(folder)) return 1;
  const udra::Logger log("UDRAHostApp", udra::ModulePath());
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return 1;
  const int result = RunHost(folder, log);
  curl_global_cleanup();
  return result;
}

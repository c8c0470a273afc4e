// Bringing the manager up and down.
#include <cstdio>

#include "core/ResourceManager.h"
#include "hostlink/HostSupervisor.h"
#include "hostlink/PipeMsg.h"
#include "platform/Profile.h"
#include "platform/System.h"
#include "qos/QosReport.h"
#include "util/Paths.h"

namespace udra {
namespace {

constexpr int kDefaultReservedSize = 0x40000000;  // 1 GiB
constexpr uint32_t kTickIntervalMs = 1000;
constexpr uint32_t kHostProbeIntervalMs = 10000;
constexpr int kTableOpenAttempts = 50;
constexpr uint32_t kTableOpenIntervalMs = 100;

}  // namespace

bool ResourceManager::Initialize(const char* urlRoot, int32_t cacheLimit) {
  if (!urlRoot || !cacheLimit) return false;
  m_log.Write(Logger::T, "ResourceManager::Initialize() begin");
  std::lock_guard<std::recursive_mutex> guard(m_lock);
  if (m_initialized) {
    m_log.Write(Logger::E, "ResourceManager::Initialize()重复调用, 请先调用Uninitialize()");
    return false;
  }
  m_urlRoot = urlRoot;
  m_up = false;
  m_connectPending = false;
  m_files.Reset(uint32_t(cacheLimit));
  m_syncs.ClearFailedFiles();

  std::string folder;
  if (!ModuleFolder(folder)) return false;
  m_initialized = true;

  m_log.Write(Logger::T, "ResourceManager::Initialize() SetPrivilege");
  if (!platform::EnablePrivilege("SeCreateGlobalPrivilege")) {
    m_log.Write(Logger::E, "ResourceManager::Initialize()中SetPrivilege()失败");
    return false;
  }
  // Without a usable private place for the pipe, the locks and the shared
  // memory no host can ever be reached: say why at once instead of trying
  // to connect for 50 s.
  const std::string localProblem = platform::LocalObjectsProblem();
  if (!localProblem.empty()) {
    m_log.Format(Logger::E, "ResourceManager::Initialize(): %s", localProblem.c_str());
    return false;
  }

  m_log.Write(Logger::T, "ResourceManager::Initialize() UDRAWndMsgProcessor::Initialize");
  if (!UDRAWndMsgProcessor::Initialize()) {
    m_log.Write(Logger::E, "ResourceManager::Initialize()中UDRAWndMsgProcessor::Initialize()失败");
    return false;
  }
  m_log.Write(Logger::T, "ResourceManager::Initialize() UDRAWndMsgProcessor::Initialize end");

  // The statistics component is optional: any failure leaves it absent.
  if (platform::ReadProfileInt(JoinPath(folder, "UDRAClient.ini"), "Stats", "Show", 0) != 0 && m_stats.Load(folder)) {
    m_hostValue1 = 0;
    m_hostValue2 = 0;
  }

  // The catalogue loads while the store opens, the host starts and the pipe
  // connects; FinishInitialize takes it.
  std::string catalogue;
  if (FileListPath(catalogue)) m_cataloguePreload.Start(catalogue);
  if (!OpenStore(folder)) return false;

  m_log.Write(Logger::T, "ResourceManager::Initialize() LaunchUDRAHostApp");
  m_launchIfHostGone = false;
  if (!IsUDRAHostAlive()) {
    LaunchHostInBackground();
    if (!m_launchThread) {
      m_log.Write(Logger::E, "ResourceManager::Initialize()中LaunchUDRAHostApp()失败");
      return false;
    }
  } else {
    m_launchIfHostGone = true;
  }

  m_log.Write(Logger::T, "ResourceManager::Initialize() m_udraClient connect");
  if (!m_udraClient.Start(1, this)) {
    m_log.Write(Logger::E, "ResourceManager::Initialize()中初次尝试m_udraClient.Start()失败");
    m_connectPending = true;
    if (!m_udraClient.StartAsync(this, m_wnd)) m_connectPending = false;
    return true;
  }
  m_log.Write(Logger::T, "ResourceManager::Initialize() 管道连接成功, 进行额外的初始话动作");
  return FinishInitialize();
}

void ResourceManager::LaunchHostInBackground() {
  if (m_launchThread) m_launchThread->Wait(UINT32_MAX);  // a launch of an earlier start
  m_launchThread = platform::Thread::Start([this] {
    std::unique_ptr<platform::Process> process;
    LaunchUDRAHostApp(process);
    std::lock_guard<std::mutex> guard(m_hostProcessLock);
    m_hostProcess = std::move(process);
    return 0;
  });
}

// The host Initialize found may have been ending: it still held its mutex
// but no longer takes connections. Once it has gone, one host is started
// for this start; the connect goes on and finds its pipe.
void ResourceManager::WhileWaitingForPipe() {
  if (!m_launchIfHostGone || IsUDRAHostAlive()) return;
  m_launchIfHostGone = false;
  m_log.Write(Logger::W, "ResourceManager::Initialize(): UDRAHostApp.exe ended before the pipe connected, starting it");
  std::unique_ptr<platform::Process> process;
  LaunchUDRAHostApp(process);
  std::lock_guard<std::mutex> guard(m_hostProcessLock);
  m_hostProcess = std::move(process);
}

bool ResourceManager::OpenStore(const std::string& folder) {
  m_log.Write(Logger::T, "ResourceManager::Initialize() LoadLibrary ZAV.dll");
  if (!m_store.LoadModule(folder)) {
    m_log.Write(Logger::E, "ResourceManager::Initialize()中装载ZAV.dll失败");
    return false;
  }
  if (!m_store.AcquireStore()) {
    m_log.Write(Logger::E, "ResourceManager::Initialize()中GetZAV()失败");
    return false;
  }
  if (!LoadZAV()) {
    m_log.Write(Logger::E, "ResourceManager::Initialize()中LoadZAV()失败");
    return false;
  }
  return true;
}

void ResourceManager::PostInitResult(uintptr_t result) {
  platform::PostWindowMessage(m_hCallbackHWnd.load(), WM_INIT_RESULT, result, 0);
}

bool ResourceManager::FinishInitialize() {
  std::string folder;
  ModuleFolder(folder);
  m_log.Write(Logger::T, "ResourceManager::Initialize() m_udraShareState open");
  if (!m_udraShareState.Open()) {
    m_log.Write(Logger::E, "ResourceManager::Initialize()中m_udraShareState.Open()失败");
    PostInitResult(0);
    return false;
  }
  platform::SetWindowTimer(m_wnd, kHostProbeTimer, kHostProbeIntervalMs);
  platform::SetWindowTimer(m_wnd, kTickTimer, kTickIntervalMs);

  m_log.Write(Logger::T, "ResourceManager::Initialize() LoadFileList");
  {
    // Run from the window handler this holds no lock: readers on other
    // threads wait (or, lock-free, see nothing) until the catalogue is whole.
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_readGate.Close();
    if (!LoadFileList()) {
      m_log.Write(Logger::E, "ResourceManager::Initialize()中LoadFileList()失败");
      PostInitResult(0);
      return false;
    }
    ReconcileStore();
    m_readGate.Open();
  }

  m_log.Write(Logger::T, "ResourceManager::Initialize() check m_sharedSpaces");
  bool opened = false;
  for (int attempt = 0; attempt < kTableOpenAttempts && !opened; ++attempt) {
    opened = m_sharedSpaces.Open();
    if (!opened) platform::SleepMs(kTableOpenIntervalMs);
  }
  if (!opened) {
    m_log.Write(Logger::E, "ResourceManager::Initialize()中OpenFileMapping()失败");
    PostInitResult(0);
    return false;
  }

  SendMsg(MakeTick());
  m_log.Write(Logger::T, "ResourceManager::Initialize()成功");
  m_log.Format(Logger::T, "SendMessage m_hCallbackHWnd = %d!", int(reinterpret_cast<intptr_t>(m_hCallbackHWnd.load())));
  m_up = true;
  PostInitResult(1);
  return true;
}

// Reads the store and the catalogue without the host: for tools and tests
// that only read files already in the store.
bool ResourceManager::AttachStoreAndCatalogue(uint32_t cacheLimit, bool followCatalogue) {
  std::lock_guard<std::recursive_mutex> guard(m_lock);
  m_readGate.Close();
  m_files.Reset(cacheLimit);
  std::string folder;
  if (!ModuleFolder(folder) || !OpenStore(folder)) return false;
  if (!LoadFileList()) {
    m_log.Write(Logger::E, "ResourceManager::Initialize()中LoadFileList()失败");
    return false;
  }
  if (followCatalogue) ReconcileStore();
  m_readGate.Open();
  return true;
}

bool ResourceManager::LoadZAV() {
  std::string folder;
  IZav* zav = m_store.zav();
  if (!ModuleFolder(folder) || !zav) return false;
  const int reservedSize = platform::ReadProfileInt(JoinPath(folder, "UDRAHostApp.ini"), "ResPool",
                                                    "ReservedSize", kDefaultReservedSize);
  const std::string path = JoinPath(folder, "UDRADownload");
  auto diskFull = [&] {
    if (zav->GetErrorCode(1) == 3) platform::ShowMessageBox("磁盘空间不足，创建ZAV文件失败。", "错误");
  };
  if (zav->Exists(path.c_str())) {
    if (zav->Load(path.c_str())) return true;
    const int32_t code = zav->GetErrorCode(1);
    if (code != 1 && code != 2 && code != 4) {
      m_log.Write(Logger::E, "ResourceManager::LoadZAV()中m_zav.Load()失败");
      return false;
    }
    m_log.Format(Logger::E, "ResourceManager::LoadZAV()中m_zav.Load()失败, errorcode=%d", code);
    if (zav->Create(path.c_str(), 1, uint32_t(reservedSize))) {
      m_log.Write(Logger::E, "ResourceManager::m_zav.Load()失败后, 重建ZAV成功.");
      return true;
    }
    diskFull();
    m_log.Write(Logger::E, "ResourceManager::LoadZAV()中m_zav.Load()和m_zav.Create()失败");
    return false;
  }
  if (zav->Create(path.c_str(), 0, uint32_t(reservedSize))) return true;
  diskFull();
  m_log.Write(Logger::E, "ResourceManager::LoadZAV()中m_zav.Create()失败");
  return false;
}

bool ResourceManager::FileListPath(std::string& path) const {
  std::string folder;
  if (!ModuleFolder(folder)) return false;
  const std::string& configured = m_config.FileListPath();
  path = JoinPath(folder, configured.empty() ? "FileList.dat" : configured);
  return true;
}

bool ResourceManager::LoadFileList() {
  std::string path;
  if (!FileListPath(path)) return false;
  bool parsed = false;
  if (m_cataloguePreload.Take(path, m_fileList, parsed)) return parsed;
  return m_fileList.load(path);
}

void ResourceManager::SendQosReportIfDue() {
  std::string folder;
  if (!ModuleFolder(folder)) return;
  const std::string ini = JoinPath(folder, "UDRAClient.ini");
  if (!qos::IsQosReportDue(ini)) {
    m_log.Write(Logger::V, "[ZEPH]当前设置, 不会上报Zeph");
    return;
  }
  m_log.Write(Logger::V, "[ZEPH]开始上报Zeph");
  qos::QosReportInput report(m_log);
  {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    report.version = m_version;
    report.uin = m_uin;
    report.clientGuid = m_clientGuid;
    report.fileListDigest = m_fileList.entryCount() ? m_fileList.fileListDigest() : std::string();
    report.usePercentage = m_useRecord.GetRequestedPercent();
    m_useRecord.CollectFrequent(report.heavyPaths);
    for (const std::string& path : m_files.MissingFiles()) report.missingPaths.push_back(path);
    for (const std::string& name : m_syncs.FailedFiles()) report.failedPaths.push_back(name);
  }
  const qos::QosServer server = qos::ReadQosServer(ini);
  report.host = server.host;
  report.port = server.port;
  if (!qos::QosReport(report)) m_log.Write(Logger::E, "[ZEPH]Uninitialize()中QosReport()上报失败。");
}

void ResourceManager::KillTimers() {
  if (!m_wnd) return;
  platform::KillWindowTimer(m_wnd, kHostProbeTimer);
  platform::KillWindowTimer(m_wnd, kTickTimer);
}

// The parts that other threads' calls use are released under m_lock, and the
// catalogue and the store behind the closed gate, so that a call racing with
// the shut-down finds them either whole or gone.
bool ResourceManager::Uninitialize() {
  using Guard = std::lock_guard<std::recursive_mutex>;
  m_connectPending = false;
  m_up = false;
  m_udraClient.Stop();
  if (m_launchThread) {
    m_launchThread->Wait(UINT32_MAX);
    m_launchThread.reset();  // joined: nothing of the start outlives the shut-down
  }
  {
    Guard guard(m_lock);
    m_sharedSpaces.Close();
    m_cataloguePreload.Discard();  // a start that failed before it took its catalogue
  }
  SendQosReportIfDue();
  bool saved = false;
  {
    Guard guard(m_lock);
    std::string useRecord;
    saved = UseRecordPath(useRecord) && m_useRecord.Save(useRecord);
  }
  // On the two failures below the store and the window stay for a later
  // Uninitialize; the timers go now, since the pipe they feed is closed.
  if (!saved) {
    KillTimers();
    return false;
  }
  {
    Guard guard(m_lock);
    m_readGate.Close();
    m_fileList.clear();
    m_files.ReleaseAll();
    m_udraShareState.Close();
    m_entryChecks.Reset();
    if (!m_store.CloseAndRelease()) {
      KillTimers();
      return false;
    }
  }
  KillTimers();
  {
    Guard guard(m_lock);
    m_stats.Unload();
  }
  if (m_wnd && !UDRAWndMsgProcessor::Uninitialize()) return false;
  m_initialized = false;
  m_log.Write(Logger::T, "ResourceManager::Uninitialize()成功");
  return true;
}

}  // namespace udra

// Bringing the manager up and down.
#include <cstdio>

#include "core/ResourceManager.h"
#include "platform/Profile.h"
#include "platform/System.h"
#include "qos/QosReport.h"
#include "util/Paths.h"

namespace udra {
namespace {

constexpr int kDefaultReservedSize = 0x40000000;  // 1 GiB

}  // namespace

bool ResourceManager::Initialize(const char* urlRoot, int32_t cacheLimit) {
  if (!urlRoot || !cacheLimit) return false;
  return false;
}

bool ResourceManager::AttachStoreAndCatalogue(uint32_t cacheLimit) {
  std::lock_guard<std::recursive_mutex> guard(m_lock);
  m_files.Reset(cacheLimit);
  std::string folder;
  if (!ModuleFolder(folder)) return false;
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
  if (!LoadFileList()) {
    m_log.Write(Logger::E, "ResourceManager::Initialize()中LoadFileList()失败");
    return false;
  }
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

bool ResourceManager::LoadFileList() {
  std::string folder;
  if (!ModuleFolder(folder)) return false;
  const std::string& configured = m_config.FileListPath();
  return m_fileList.load(JoinPath(folder, configured.empty() ? "FileList.dat" : configured));
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
  }
  const qos::QosServer server = qos::ReadQosServer(ini);
  report.host = server.host;
  report.port = server.port;
  if (!qos::QosReport(report)) m_log.Write(Logger::E, "[ZEPH]Uninitialize()中QosReport()上报失败。");
}

bool ResourceManager::Uninitialize() {
  SendQosReportIfDue();
  std::string folder;
  if (!ModuleFolder(folder) || !m_useRecord.Save(JoinPath(folder, "UDRADownload\\ResUseRec.db"))) return false;
  m_fileList.clear();
  m_files.ReleaseAll();
  if (!m_store.CloseAndRelease()) return false;
  if (m_wnd && !UDRAWndMsgProcessor::Uninitialize()) return false;
  m_log.Write(Logger::T, "ResourceManager::Uninitialize()成功");
  return true;
}

}  // namespace udra

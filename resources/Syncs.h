// Sync requests: the game asks for a catalogued file or folder to be made
// available; the missing download names are requested from the downloader
// host, and the host's completions end the request with a state the game
// reads back. The manager owns one Syncs and delegates StartSync,
// CancelSync, GetSyncInfo, SetSyncPriority, the host's completion records and
// the loss of the host to it.
//
// Every operation takes the manager's lock. Records are never removed while
// the object lives, so GetSyncInfo answers for every id handed out.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/StatsFacade.h"
#include "hostlink/PipeMsg.h"
#include "log/Logger.h"
#include "platform/System.h"
#include "platform/Window.h"
#include "resources/FileList.h"
#include "resources/SyncProgress.h"
#include "resources/UseRecord.h"
#include "udra/IResourceManager.h"

namespace udra {

struct SyncRecord {
  int32_t id = 0;
  std::string name;  // the requested catalogue key, in the caller's letter case
  int32_t totalSize = 0;
  int32_t priority = 0;
  int32_t userParam = 0;
  int32_t state = UDRA_SYNC_RUNNING;
  uint32_t startTick = 0;
  UDRA_HWND notifyWnd = nullptr;
  // Download names asked of the host and not yet answered, each with the
  // catalogue key whose entry gives its URL. Byte-exact order.
  std::map<std::string, std::string> pending;
  // What ended the sync when it failed: the download name, the host's error
  // code and kind and its text (empty for a sync that did not fail).
  std::string failedName;
  uint16_t errCode = 0;
  uint16_t errKind = 0;
  std::string errorText;
};

// What Syncs needs from the rest of the manager, as callables so that tests
// can stand in for each.
struct SyncLinks {
  // Queues one record for the host; false when it was dropped.
  std::function<bool(const PipeMsg&)> send;
  // The statistics component, or null when none is loaded.
  std::function<StatsFacade*()> stats;
  // Bytes done for a download name come from these two: the entry's size
  // when the archive store holds it (true, with -1 when the store cannot
  // tell the size), else the downloaded count in the host's
  // downloading-file table (false when the table does not know the name).
  std::function<bool(const std::string& name, int32_t& size)> storedSize;
  // `hint` is the table's own, kept per name by the caller (0 at first).
  std::function<bool(const std::string& name, int32_t& bytes, uint64_t& hint)> downloadedBytes;
  // The download URL root given to Initialize.
  std::function<std::string()> urlRoot;
  std::function<bool(platform::WindowHandle, uint32_t, uintptr_t, intptr_t)> post = platform::PostWindowMessage;
  std::function<bool(platform::WindowHandle)> isWindow = platform::IsWindowAlive;
  std::function<uint32_t()> tick = platform::TickCount;
};

class Syncs {
 public:
  // Failed download names kept for the quality report.
  static constexpr size_t kFailedFilesLimit = 100;
  // Requests of this priority are not marked in the resource-use record.
  static constexpr int32_t kUnrecordedPriority = 101;

  // `manager` answers IsFileInArchive and takes SetCallbackHWnd; `lock` is
  // the manager's own. All references must outlive this object.
  Syncs(std::recursive_mutex& lock, const FileList& files, UseRecord& useRecord, IResourceManager& manager,
        const Logger& log, SyncLinks links);
  Syncs(const Syncs&) = delete;
  Syncs& operator=(const Syncs&) = delete;

  // The sync id, or -1 when `path` is null or not catalogued.
  int32_t StartSync(const char* path, UDRA_HWND notifyWnd, int32_t priority, int32_t userParam);
  void CancelSync(int32_t syncId);
  bool GetSyncInfo(int32_t syncId, SyncInfo* out);
  bool SetSyncPriority(int32_t syncId, int32_t priority);
  // A CMD_SYNC_RETURN record from the host.
  void OnSyncReturn(const PipeMsg& msg);
  // The host process was lost: every running sync fails.
  void OnHostLost();

  // Download names of failed completions, at most kFailedFilesLimit.
  std::set<std::string> FailedFiles() const;
  void ClearFailedFiles();
  // A copy of a record; false when the id is unknown.
  bool Find(int32_t syncId, SyncRecord& out) const;

 private:
  using Guard = std::lock_guard<std::recursive_mutex>;

  int32_t StartFolder(const std::string& key, UDRA_HWND notifyWnd, int32_t priority, int32_t userParam);
  int32_t StartFile(const std::string& key, UDRA_HWND notifyWnd, int32_t priority, int32_t userParam);
  SyncRecord NewRecord(const std::string& key, int32_t totalSize, UDRA_HWND notifyWnd, int32_t priority,
                       int32_t userParam) const;
  void SendRequest(const SyncRecord& record, const std::string& downloadName, const std::string& key);
  bool InArchive(const std::string& key) const;
  std::string DownloadName(const std::string& key) const;
  std::string EncodedUrl(const std::string& key) const;
  SyncRecord* Resolve(int32_t syncId, const std::string& downloadName);
  void CompleteOk(SyncRecord& record, int32_t idField, const std::string& name, int32_t reportedSize);
  void CompleteFailed(SyncRecord& record, int32_t idField, const std::string& name, int32_t reportedSize,
                      uint16_t errCode, uint16_t errKind, uint32_t errWord, const std::string& errorText);
  bool ProgressOf(const SyncRecord& record, SyncInfo& out);
  std::vector<std::string> FolderNames(const std::string& folder) const;
  bool Send(const PipeMsg& msg) const;
  StatsFacade* Stats() const;
  bool IsWindow(UDRA_HWND window) const;
  void Post(UDRA_HWND window, int32_t syncId) const;
  void LogException(const char* operation, const char* what) const;

  std::recursive_mutex& m_lock;
  const FileList& m_fileList;
  UseRecord& m_useRecord;
  IResourceManager& m_manager;
  const Logger& m_log;
  SyncLinks m_links;
  std::map<int32_t, SyncRecord> m_syncs;
  std::set<std::string> m_failedFiles;
  SyncProgress m_progress;  // folder syncs' names and what the store said of them
};

// The sync state a failure completion leaves: code 22 gives
// UDRA_SYNC_ERROR_CODE22 whatever the kind; else kinds 0 to 3 give FAILED,
// KIND1, KIND2 and KIND3, any other kind ERROR_OTHER.
int32_t FailureState(uint16_t errCode, uint16_t errKind);

}  // namespace udra

#include "resources/Syncs.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <vector>

#include "resources/PathRules.h"

namespace udra {

namespace {

// Sync ids of the whole process: the first is 0 and the counter is never
// reset, so ids stay unique across manager instances.
std::atomic<int32_t> g_lastSyncId{-1};

int32_t NextSyncId() { return g_lastSyncId.fetch_add(1) + 1; }

// The download name as the request record carries it. A package name too long
// for its field is cut there, and the host answers with the name it was sent,
// so the pending entry is kept under that same cut name: the completion (most
// likely a failed size or digest check) then still ends the sync.
std::string WireName(std::string name) {
  if (name.size() >= kNameField) name.resize(kNameField - 1);
  return name;
}

}  // namespace

int32_t FailureState(uint16_t errCode, uint16_t errKind) {
  if (errCode == 22) return UDRA_SYNC_ERROR_CODE22;
  switch (errKind) {
    case 0: return UDRA_SYNC_FAILED;
    case 1: return UDRA_SYNC_ERROR_KIND1;
    case 2: return UDRA_SYNC_ERROR_KIND2;
    case 3: return UDRA_SYNC_ERROR_KIND3;
    default: return UDRA_SYNC_ERROR_OTHER;
  }
}

Syncs::Syncs(std::recursive_mutex& lock, const FileList& files, UseRecord& useRecord, IResourceManager& manager,
             const Logger& log, SyncLinks links)
    : m_lock(lock), m_fileList(files), m_useRecord(useRecord), m_manager(manager), m_log(log),
      m_links(std::move(links)) {}

// Log tags: lines that report a failed download are E; everything else,
// including the failing of running syncs when the host is lost (a recovery
// step, not an error of a request), is T.

int32_t Syncs::StartSync(const char* path, UDRA_HWND notifyWnd, int32_t priority, int32_t userParam) {
  try {
    if (!path) return -1;
    const NormalPath normal = NormalizePath(path);
    std::string_view keyView;
    if (!CatalogueKey(normal.view(), keyView)) return -1;
    // Under the lock: the catalogue is loaded and emptied under it, so an
    // unlocked look could meet one being released.
    Guard guard(m_lock);
    if (!m_fileList.contains(keyView)) return -1;
    const std::string key(keyView);

    m_manager.SetCallbackHWnd(notifyWnd);
    if (m_fileList.isFolder(key)) return StartFolder(key, notifyWnd, priority, userParam);
    return StartFile(key, notifyWnd, priority, userParam);
  } catch (const std::exception& e) {
    LogException("StartSync", e.what());
    return -1;
  }
}

SyncRecord Syncs::NewRecord(const std::string& key, int32_t totalSize, UDRA_HWND notifyWnd, int32_t priority,
                            int32_t userParam) const {
  SyncRecord record;
  record.name = key;
  record.totalSize = totalSize;
  record.priority = priority;
  record.userParam = userParam;
  record.startTick = m_links.tick ? m_links.tick() : 0;
  record.notifyWnd = notifyWnd;
  record.id = NextSyncId();
  return record;
}

int32_t Syncs::StartFolder(const std::string& key, UDRA_HWND notifyWnd, int32_t priority, int32_t userParam) {
  // Totals are 32-bit in the progress record; a larger sum keeps its low bits.
  SyncRecord record =
      NewRecord(key, static_cast<int32_t>(static_cast<uint32_t>(m_fileList.packedTotal(key))), notifyWnd,
                priority, userParam);
  std::vector<std::string> files;
  m_fileList.filesBelow(key, files);
  for (const std::string& file : files) {
    if (InArchive(file)) continue;
    const std::string name = WireName(DownloadName(file));
    // Files sharing a package are requested once, through the first of them.
    if (!record.pending.emplace(name, file).second) continue;
    SendRequest(record, name, file);
    if (priority != kUnrecordedPriority) m_useRecord.MarkRequested(file);
  }
  const int32_t id = record.id;
  const bool nothingMissing = record.pending.empty();
  // The folder's download names for its progress figures, listed now that
  // the walk is at hand; the names just requested are known to be missing.
  std::vector<std::string> names;
  names.reserve(files.size());
  for (const std::string& file : files) names.push_back(DownloadName(file));
  m_progress.Begin(id, m_fileList.generation(), std::move(names),
                   [&record](const std::string& name) { return record.pending.count(WireName(name)) != 0; });
  record.state = nothingMissing ? UDRA_SYNC_DONE : UDRA_SYNC_RUNNING;
  m_syncs.emplace(id, std::move(record));
  if (nothingMissing && notifyWnd) Post(notifyWnd, id);
  return id;
}

int32_t Syncs::StartFile(const std::string& key, UDRA_HWND notifyWnd, int32_t priority, int32_t userParam) {
  int32_t packedSize = 0;
  m_fileList.packedSize(key, packedSize);
  SyncRecord record = NewRecord(key, packedSize, notifyWnd, priority, userParam);
  const std::string name = WireName(DownloadName(key));
  record.pending.emplace(name, key);
  const int32_t id = record.id;
  if (InArchive(key)) {
    // The record keeps its one name pending; a late completion of that name
    // then only logs.
    record.state = UDRA_SYNC_DONE;
    m_syncs.emplace(id, std::move(record));
    // Posted even without a window: it then reaches the calling thread's queue.
    Post(notifyWnd, id);
    return id;
  }
  record.state = UDRA_SYNC_RUNNING;
  const SyncRecord& stored = m_syncs.emplace(id, std::move(record)).first->second;
  SendRequest(stored, name, key);
  if (priority != kUnrecordedPriority) m_useRecord.MarkRequested(key);
  return id;
}

void Syncs::SendRequest(const SyncRecord& record, const std::string& downloadName, const std::string& key) {
  int32_t packedSize = 0;
  std::string packedDigest;
  m_fileList.packedSize(key, packedSize);
  m_fileList.packedDigest(key, packedDigest);
  const std::string url = EncodedUrl(key);
  // Texts longer than their fields are cut by the builder; the host's size
  // and digest check then fails such a download cleanly.
  const PipeMsg msg = MakeSyncFile(record.id, downloadName.c_str(), url.c_str(), record.priority, record.userParam,
                                   packedSize, packedDigest.c_str());
  m_log.Format(Logger::T, "Sync File %d:%s", record.id, downloadName.c_str());
  if (StatsFacade* stats = Stats()) stats->FileRequested(downloadName, packedSize, record.priority);
  // A dropped request leaves the name pending, to be ended by a later
  // completion, a cancel or the loss of the host.
  Send(msg);
}

void Syncs::CancelSync(int32_t syncId) {
  try {
    Guard guard(m_lock);
    auto it = m_syncs.find(syncId);
    if (it == m_syncs.end() || it->second.state != UDRA_SYNC_RUNNING) return;
    SyncRecord& record = it->second;
    for (const auto& [name, key] : record.pending) {
      const std::string url = EncodedUrl(key);
      m_log.Format(Logger::T, "CancelSync rawurl=%s encodeurl=%s", key.c_str(), url.c_str());
      Send(MakeCancelFile(url.c_str(), syncId));
      if (StatsFacade* stats = Stats()) stats->FileCancelled(name, record.priority);
    }
    record.pending.clear();
    record.state = UDRA_SYNC_CANCELLED;
    if (record.notifyWnd) Post(record.notifyWnd, syncId);
  } catch (const std::exception& e) {
    LogException("CancelSync", e.what());
  }
}

bool Syncs::SetSyncPriority(int32_t syncId, int32_t priority) {
  try {
    Guard guard(m_lock);
    auto it = m_syncs.find(syncId);
    if (it == m_syncs.end() || it->second.state != UDRA_SYNC_RUNNING) return false;
    SyncRecord& record = it->second;
    if (record.priority == priority) return true;
    record.priority = priority;
    bool sent = false;
    for (const auto& entry : record.pending) {
      sent = Send(MakeSetPriority(EncodedUrl(entry.second).c_str(), priority));
      if (!sent) break;
    }
    return sent;
  } catch (const std::exception& e) {
    LogException("SetSyncPriority", e.what());
    return false;
  }
}

bool Syncs::GetSyncInfo(int32_t syncId, SyncInfo* out) {
  try {
    Guard guard(m_lock);
    auto it = m_syncs.find(syncId);
    // A null out is refused like an unknown id: nothing to write to.
    if (it == m_syncs.end() || !out) return false;
    const SyncRecord& record = it->second;
    std::memset(out->name, 0, sizeof out->name);
    std::memcpy(out->name, record.name.data(), std::min(record.name.size(), sizeof out->name - 1));
    out->totalSize = record.totalSize;
    out->state = record.state;
    out->userParam = record.userParam;
    out->priority = record.priority;
    return ProgressOf(record, *out);
  } catch (const std::exception& e) {
    LogException("GetSyncInfo", e.what());
    return false;
  }
}

bool Syncs::ProgressOf(const SyncRecord& record, SyncInfo& out) {
  // Progress starts at 0 in both cases, so a false result never leaves the
  // caller's old bytes in the field.
  out.doneSize = 0;
  if (!m_links.storedSize || !m_links.downloadedBytes) return false;
  if (!m_fileList.isFolder(record.name)) {
    const std::string name = DownloadName(record.name);
    int32_t bytes = 0;
    if (m_links.storedSize(name, bytes)) {
      if (bytes == -1) return false;
    } else if (uint64_t hint = 0; !m_links.downloadedBytes(name, bytes, hint)) {
      return false;
    }
    out.doneSize = bytes;
    return true;
  }
  const SyncProgress::Sources sources{m_links.storedSize, m_links.downloadedBytes};
  return m_progress.Figure(
      record.id, m_fileList.generation(), [this, &record] { return FolderNames(record.name); }, sources,
      out.doneSize);
}

std::vector<std::string> Syncs::FolderNames(const std::string& folder) const {
  std::vector<std::string> names;
  m_fileList.ForEachBelow(folder, [&names](const FileListEntry& e) {
    if (e.size != -1) names.emplace_back(e.packageName.empty() ? e.name : e.packageName);
  });
  return names;
}

void Syncs::OnSyncReturn(const PipeMsg& msg) {
  try {
    const SyncReturnFields fields = ReadSyncReturn(msg);
    Guard guard(m_lock);
    m_log.Format(Logger::T, "OnSyncReturn %d, %s, errcode=%d", fields.syncId, fields.name.c_str(),
                 static_cast<int>(fields.errWord));
    // Whatever the store held under the name may have come or changed.
    m_progress.Changed(fields.name);
    SyncRecord* record = Resolve(fields.syncId, fields.name);
    if (!record) return;
    if (fields.ok) {
      CompleteOk(*record, fields.syncId, fields.name, fields.reportedSize);
    } else {
      CompleteFailed(*record, fields.syncId, fields.name, fields.reportedSize, fields.errCode, fields.errKind,
                     fields.errWord, fields.errorText);
    }
  } catch (const std::exception& e) {
    LogException("OnSyncReturn", e.what());
  }
}

SyncRecord* Syncs::Resolve(int32_t syncId, const std::string& downloadName) {
  if (syncId != -1) {
    auto it = m_syncs.find(syncId);
    return it == m_syncs.end() ? nullptr : &it->second;
  }
  // The host did not tie the result to a request: the first sync in id order
  // waiting for the name takes it, whatever its state.
  for (auto& [id, record] : m_syncs) {
    if (record.pending.count(downloadName)) return &record;
  }
  return nullptr;
}

void Syncs::CompleteOk(SyncRecord& record, int32_t idField, const std::string& name, int32_t reportedSize) {
  if (record.pending.erase(name) != 0) {
    const uint32_t now = m_links.tick ? m_links.tick() : 0;
    if (StatsFacade* stats = Stats()) stats->FileDone(name, reportedSize, now - record.startTick, record.priority);
  }
  if (record.pending.empty() && record.state == UDRA_SYNC_RUNNING) {
    record.state = UDRA_SYNC_DONE;
    if (record.notifyWnd && IsWindow(record.notifyWnd)) {
      Post(record.notifyWnd, record.id);
      m_log.Format(Logger::T, "PostMessage WM_SYNC_RETURN %d, %s", idField, name.c_str());
    }
    return;
  }
  if (!record.pending.empty()) {
    m_log.Format(Logger::T, "Not PostMessage WM_SYNC_RETURN %d, %s state=%d because [PART]", idField, name.c_str(),
                 record.state);
  } else {
    m_log.Format(Logger::T, "Not PostMessage WM_SYNC_RETURN %d, %s state=%d", idField, name.c_str(), record.state);
  }
}

void Syncs::CompleteFailed(SyncRecord& record, int32_t idField, const std::string& name, int32_t reportedSize,
                           uint16_t errCode, uint16_t errKind, uint32_t errWord, const std::string& errorText) {
  if (StatsFacade* stats = Stats()) {
    stats->FileFailed(name, reportedSize, errWord, errorText + " ID: " + std::to_string(record.id), record.priority);
  }
  if (m_failedFiles.size() < kFailedFilesLimit) m_failedFiles.insert(name);
  if (record.state == UDRA_SYNC_RUNNING) {
    // The other names of the sync are not cancelled; their completions will
    // only log.
    record.pending.clear();
    record.state = FailureState(errCode, errKind);
    record.failedName = name;
    record.errCode = errCode;
    record.errKind = errKind;
    record.errorText = errorText;
    if (record.notifyWnd && IsWindow(record.notifyWnd)) {
      Post(record.notifyWnd, record.id);
      m_log.Format(Logger::E, "WM_SYNC_RETURN ID=%d return error code = %d", record.id, record.state);
    }
    return;
  }
  m_log.Format(Logger::E, "Not PostMessage WM_SYNC_RETURN error %d, %s state=%d", idField, name.c_str(),
               record.state);
}

void Syncs::OnHostLost() {
  try {
    Guard guard(m_lock);
    for (auto& [id, record] : m_syncs) {
      if (record.state != UDRA_SYNC_RUNNING) continue;
      record.pending.clear();
      record.state = UDRA_SYNC_FAILED;
      record.errorText = "the downloader host ended before the sync was done";
      if (record.notifyWnd && IsWindow(record.notifyWnd)) {
        Post(record.notifyWnd, id);
        m_log.Format(Logger::T, "WM_SYNC_RETURN ID=%d return error", id);
      }
    }
  } catch (const std::exception& e) {
    LogException("OnHostLost", e.what());
  }
}

std::set<std::string> Syncs::FailedFiles() const {
  Guard guard(m_lock);
  return m_failedFiles;
}

void Syncs::ClearFailedFiles() {
  Guard guard(m_lock);
  m_failedFiles.clear();
}

bool Syncs::Find(int32_t syncId, SyncRecord& out) const {
  Guard guard(m_lock);
  auto it = m_syncs.find(syncId);
  if (it == m_syncs.end()) return false;
  out = it->second;
  return true;
}

bool Syncs::InArchive(const std::string& key) const { return m_manager.IsFileInArchive(key.c_str()); }

std::string Syncs::DownloadName(const std::string& key) const {
  std::string package = m_fileList.packageName(key);
  return package.empty() ? key : package;
}

std::string Syncs::EncodedUrl(const std::string& key) const {
  return m_fileList.EncodedUrl(m_links.urlRoot ? m_links.urlRoot() : std::string(), key);
}

bool Syncs::Send(const PipeMsg& msg) const { return m_links.send && m_links.send(msg); }

StatsFacade* Syncs::Stats() const { return m_links.stats ? m_links.stats() : nullptr; }

bool Syncs::IsWindow(UDRA_HWND window) const { return m_links.isWindow && m_links.isWindow(window); }

void Syncs::Post(UDRA_HWND window, int32_t syncId) const {
  // The result is not used: nothing is retried when the window is gone.
  if (m_links.post) m_links.post(window, WM_SYNC_RETURN, static_cast<uintptr_t>(syncId), 0);
}

void Syncs::LogException(const char* operation, const char* what) const {
  m_log.Format(Logger::E, "Syncs::%s() failed: %s", operation, what);
}

}  // namespace udra

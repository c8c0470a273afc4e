#include "core/ResourceManager.h"

#include <cstdio>
#include <cstring>

#include "codec/LzmaCodec.h"
#include "hostlink/ClientGuid.h"
#include "hostlink/PipeMsg.h"
#include "platform/FileVersion.h"
#include "util/Md5.h"
#include "util/Paths.h"

namespace udra {

ResourceManager::ResourceManager()
    : m_log("ResourceManager"),
      m_files(m_lock, m_fileList, m_useRecord, *this,
              [this](const std::string& name) { return HoldsEntry(name); },
              [this](const std::string& key, int32_t size) { return LoadContent(key, size); }),
      m_syncs(m_lock, m_fileList, m_useRecord, *this, m_log, SyncLinks{
                  [this](const PipeMsg& msg) { return SendMsg(msg); },
                  [this]() { return m_stats.present() ? &m_stats : nullptr; },
                  [this](const std::string& name, int32_t& size) { return StoredSize(name, size); },
                  [this](const std::string& name, int32_t& bytes, uint64_t& hint) {
                    return m_sharedSpaces.GetDownloadedBytesAt(name, hint, bytes);
                  },
                  [this]() { return m_urlRoot; }}) {
  std::string folder;
  if (ModuleFolder(folder)) m_config.Load(folder);
  m_log.Write(Logger::T, "OK");
  m_version = ReadHostVersion();
  m_uin = "NOT SET UIN";
  m_clientGuid = GetClientGuid();
}

ResourceManager::~ResourceManager() {
  // A game may release the manager without a successful Uninitialize (its
  // start failed, or Uninitialize returned false). Nothing may call back into
  // this object afterwards: the window forgets it and its timers stop; the
  // window itself can only be destroyed on the thread that owns it, elsewhere
  // it stays behind inert (every message goes to the default procedure). This
  // comes first, so that a background connect still running sends to no
  // window rather than waiting for one.
  m_connectPending = false;
  if (m_wnd) {
    platform::SetWindowUserData(m_wnd, 0);
    KillTimers();
    UDRAWndMsgProcessor::Uninitialize();
  }
  // The launch thread writes m_hostProcess: it must be done before the
  // manager goes (a launch only starts a process, so this is short).
  if (m_launchThread) m_launchThread->Wait(UINT32_MAX);
  m_udraClient.Stop();
  {
    // Readers on other threads see an empty manager from here on.
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_readGate.Close();
  }
  std::string path;
  if (m_useRecord.dirty() && UseRecordPath(path)) m_useRecord.Save(path);
}

bool ResourceManager::UseRecordPath(std::string& path) {
  std::string folder;
  if (!ModuleFolder(folder)) return false;
  path = JoinPath(folder, "UDRADownload\\ResUseRec.db");
  return true;
}

std::string ResourceManager::ReadHostVersion() {
  std::string folder;
  if (!ModuleFolder(folder)) return "UDRA Unknown version";
  uint16_t v[4] = {0, 0, 0, 0};
  if (!platform::ReadFileVersion(JoinPath(folder, "UDRAHostApp.exe"), v)) v[0] = v[1] = v[2] = v[3] = 0;
  char text[100];
  std::snprintf(text, sizeof text, "UDRA v%hu.%hu.%hu.%hu", v[0], v[1], v[2], v[3]);
  return text;
}

bool ResourceManager::HoldsEntry(const std::string& name) const {
  return !m_entryChecks.IsBad(name) && m_store.HasEntry(name);
}

EntryDecoder ResourceManager::Decoder() {
  return [](const char* data, int32_t length, char** out, int32_t* inoutSize) {
    return length > 0 && DecodeEntry(GetLzmaCodec(), data, uint32_t(length), out, inoutSize);
  };
}

// With a store that records digests, an entry's stored bytes are checked
// against the catalogue before they are first served in a session (a package
// once for all its members). An entry whose bytes are not the catalogue's is
// dropped from the store, so that the next sync fetches it again. Bytes that
// are the catalogue's but do not decode to the catalogued file are kept: the
// server holds the same, and a codec that cannot be loaded must never empty
// the store.
DecodedContent ResourceManager::LoadContent(const std::string& key, int32_t catalogSize) {
  const EntryDecoder decode = Decoder();
  const std::string packageName = m_fileList.packageName(key);
  if (!m_entryChecks.enabled()) return DecodeContent(m_store, decode, key, packageName, catalogSize);

  const std::string name = packageName.empty() ? key : packageName;
  std::string expected;
  m_fileList.packedDigest(key, expected);
  std::string found;
  uint32_t storedSize = 0;
  StoredCheck check;
  if (!m_entryChecks.IsVerified(name)) {
    check = [&](const char* data, uint32_t size) {
      found = Md5::HexDigest(data, size);
      storedSize = size;
      return SameDigest(found, expected);
    };
  }
  // A verified package's members are read one by one through its kept
  // directory. When the package's entry turns out to have changed since it
  // was verified, its check no longer holds: it is read whole and checked
  // again (once; a check always reads the whole entry).
  DecodedContent content =
      DecodeContent(m_store, decode, key, packageName, catalogSize, check, &m_entryChecks.packages());
  if (content.changed && !check) {
    m_entryChecks.Forget(name);
    return LoadContent(key, catalogSize);
  }
  const bool mismatch = !found.empty() && !SameDigest(found, expected);
  if (content.damaged && mismatch) {
    const bool removed = m_entryChecks.Drop(name);
    m_log.Format(Logger::E, "ResourceManager::ReadOpenFile() %s: stored entry %s has MD5 %s, the catalogue %s; %s",
                 key.c_str(), name.c_str(), found.c_str(), expected.c_str(),
                 removed ? "removed from the store" : "not removed, counts as missing");
  } else if (content.damaged) {
    m_log.Format(Logger::E,
                 "ResourceManager::ReadOpenFile() %s: stored entry %s is the catalogue's but does not decode to the "
                 "catalogued file; kept",
                 key.c_str(), name.c_str());
  }
  if (!found.empty() && !mismatch) {
    m_entryChecks.MarkVerified(name);
    m_entryChecks.RecordDigest(name, int32_t(storedSize), found);
  }
  return content;
}

bool ResourceManager::VerifyStore(const std::vector<std::string>& paths, bool repair,
                                  const StoreVerifier::FindingFn& finding, const StoreVerifier::ProgressFn& progress,
                                  VerifySummary& summary) {
  std::lock_guard<std::recursive_mutex> guard(m_lock);
  if (!m_store.zav() && !AttachStoreAndCatalogue(1 << 20, false)) return false;
  StoreVerifier verifier(m_fileList, m_store, Decoder());
  return verifier.Run(paths, repair, finding, progress, summary);
}

void ResourceManager::ReconcileStore() {
  m_entryChecks.Attach(m_store.digests());
  if (!m_entryChecks.enabled()) return;
  const ReconcileResult r = m_entryChecks.Reconcile(m_fileList);
  if (!r.listed) {
    m_log.Write(Logger::E, "ResourceManager::ReconcileStore() the store's digests could not be read");
    return;
  }
  m_log.Format(Logger::T, "ResourceManager::ReconcileStore() %u entries checked (%u of unknown digest), %u of another version, %u removed",
               unsigned(r.checked), unsigned(r.unknown), unsigned(r.stale), unsigned(r.removed));
}

void ResourceManager::DeletingDestructor(unsigned int flags) {
  this->~ResourceManager();
  if (flags & 1) ::operator delete(this);
}

// File operations and the content cache.
int32_t ResourceManager::OpenFile(const char* path, const char* mode) { return m_files.OpenFile(path, mode); }
bool ResourceManager::ReadOpenFile(int32_t handle, void* buffer, uint32_t* inoutSize, int32_t unused) {
  return m_files.ReadOpenFile(handle, buffer, inoutSize, unused);
}
bool ResourceManager::TellOpenFile(int32_t handle, uint64_t* position) { return m_files.TellOpenFile(handle, position); }
bool ResourceManager::SeekOpenFile(int32_t handle, int64_t offset, int32_t origin) {
  return m_files.SeekOpenFile(handle, offset, origin);
}
bool ResourceManager::IsOpenFileAtEnd(int32_t handle) { return m_files.IsOpenFileAtEnd(handle); }
bool ResourceManager::CloseFile(int32_t handle) { return m_files.CloseFile(handle); }
bool ResourceManager::QueryOpenFileSize(int32_t handle, int32_t* size) { return m_files.QueryOpenFileSize(handle, size); }
bool ResourceManager::QueryFileSize(const char* path, int32_t* size) { return m_files.QueryFileSize(path, size); }
// No m_lock here (a host recovery may hold it for seconds): the gate keeps the
// catalogue and the store alive for the lookup, or answers absent while they
// are being loaded or released.
bool ResourceManager::IsFileInArchive(const char* path) {
  const ReaderGate::Read read(m_readGate);
  return read && m_files.IsFileInArchive(path);
}
bool ResourceManager::IsFolder(const char* path) { return m_files.IsFolder(path); }
bool ResourceManager::SetCacheLimit(int32_t bytes) { return m_files.SetCacheLimit(bytes); }
int32_t ResourceManager::ListFiles(const char* path, FileInfo** out) { return m_files.ListFiles(path, out); }
void ResourceManager::FreeFileList(FileInfo* array) { m_files.FreeFileList(array); }

// Syncs.
int32_t ResourceManager::StartSync(const char* path, UDRA_HWND notifyWnd, int32_t priority, int32_t userParam) {
  return m_syncs.StartSync(path, notifyWnd, priority, userParam);
}
void ResourceManager::CancelSync(int32_t syncId) { m_syncs.CancelSync(syncId); }
bool ResourceManager::GetSyncInfo(int32_t syncId, SyncInfo* out) { return m_syncs.GetSyncInfo(syncId, out); }
bool ResourceManager::SetSyncPriority(int32_t syncId, int32_t priority) {
  return m_syncs.SetSyncPriority(syncId, priority);
}

bool ResourceManager::StoredSize(const std::string& name, int32_t& size) {
  if (!m_store.zav() || !HoldsEntry(name)) return false;
  size = m_store.zav()->GetEntrySizeByName(name.c_str());
  return true;
}

// The remaining small operations.
int32_t ResourceManager::GetErrorInfo(char* buffer, int32_t bufferSize) {
  std::lock_guard<std::recursive_mutex> guard(m_lock);
  if (buffer && bufferSize > 0) std::snprintf(buffer, size_t(bufferSize), "%s", m_lastErrorText.c_str());
  return m_lastErrorCode;
}

bool ResourceManager::SendHostFlag(int32_t value) { return SendMsg(MakeHostFlag(value)); }
bool ResourceManager::Reserved(int32_t, int32_t) { return false; }
int32_t ResourceManager::GetHostValue2() { return m_hostValue2; }
int32_t ResourceManager::GetHostValue1() { return m_hostValue1; }

// A null user id is refused; a longer one is cut to the 99 bytes its pipe
// field holds, so the stored id and the one the host gets are the same.
bool ResourceManager::SetUin(const char* uin) {
  if (!uin) return false;
  PipeMsg msg;
  {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_uin.assign(uin, strnlen(uin, kUinField - 1));
    if (!MakeSetUin(m_uin.c_str(), msg)) return false;
  }
  return SendMsg(msg);
}

bool ResourceManager::RefreshShareState() {
  {
    const ReaderGate::Read read(m_readGate);
    if (read) m_udraShareState.Refresh();
  }
  return m_udraShareState.stateWord != 0;
}

void ResourceManager::SetCallbackHWnd(UDRA_HWND hwnd) { m_hCallbackHWnd = hwnd; }

}  // namespace udra

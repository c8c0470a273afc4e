// The one manager object the library hands to the game. It owns the parts of
// the system and forwards each interface slot to the part that does the work.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "config/VersionSettings.h"
#include "core/ArchiveStore.h"
#include "core/ReaderGate.h"
#include "core/StatsFacade.h"
#include "core/StoreVerifier.h"
#include "core/UDRAWndMsgProcessor.h"
#include "hostlink/DownloadingFiles.h"
#include "hostlink/ShareState.h"
#include "hostlink/UDRAClient.h"
#include "hostlink/UDRAClientListener.h"
#include "log/Logger.h"
#include "platform/Process.h"
#include "platform/Sync.h"
#include "resources/CataloguePreload.h"
#include "resources/EntryChecks.h"
#include "resources/FileList.h"
#include "resources/FileOperations.h"
#include "resources/Syncs.h"
#include "resources/UseRecord.h"
#include "udra/IResourceManager.h"

namespace udra {

class ResourceManager final : public IResourceManager, public UDRAClientListener, public UDRAWndMsgProcessor {
 public:
  ResourceManager();
  ~ResourceManager();
  ResourceManager(const ResourceManager&) = delete;
  ResourceManager& operator=(const ResourceManager&) = delete;

  // IResourceManager, in slot order.
  void DeletingDestructor(unsigned int flags) override;
  bool Initialize(const char* urlRoot, int32_t cacheLimit) override;
  bool Uninitialize() override;
  int32_t OpenFile(const char* path, const char* mode) override;
  bool ReadOpenFile(int32_t handle, void* buffer, uint32_t* inoutSize, int32_t unused) override;
  bool TellOpenFile(int32_t handle, uint64_t* position) override;
  bool SeekOpenFile(int32_t handle, int64_t offset, int32_t origin) override;
  bool IsOpenFileAtEnd(int32_t handle) override;
  bool CloseFile(int32_t handle) override;
  bool QueryOpenFileSize(int32_t handle, int32_t* size) override;
  bool QueryFileSize(const char* path, int32_t* size) override;
  bool IsFileInArchive(const char* path) override;
  bool IsFolder(const char* path) override;
  int32_t StartSync(const char* path, UDRA_HWND notifyWnd, int32_t priority, int32_t userParam) override;
  void CancelSync(int32_t syncId) override;
  bool GetSyncInfo(int32_t syncId, SyncInfo* out) override;
  bool SetSyncPriority(int32_t syncId, int32_t priority) override;
  int32_t GetErrorInfo(char* buffer, int32_t bufferSize) override;
  bool SendHostFlag(int32_t value) override;
  bool Reserved(int32_t a, int32_t b) override;
  bool SetCacheLimit(int32_t bytes) override;
  int32_t GetHostValue2() override;
  int32_t GetHostValue1() override;
  bool ExtractFile(const char* path) override;
  bool SetUin(const char* uin) override;
  bool RefreshShareState() override;
  void SetCallbackHWnd(UDRA_HWND hwnd) override;
  int32_t ListFiles(const char* pathOrFolder, FileInfo** outArray) override;
  void FreeFileList(FileInfo* array) override;

  // The hidden window's handler.
  void OnWndMsg(platform::WindowHandle wnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

  // UDRAClientListener: records from the host, records to it, host recovery.
  void OnRecvMsg(const PipeMsg& msg) override;
  bool SendMsg(const PipeMsg& msg) override;
  bool RestartHostApp() override;
  bool HostLaunchEnded() override;
  void WhileWaitingForPipe() override;

  // Loads the archive store and the catalogue without the host: what
  // Initialize does for reading files, for tools and tests that only read.
  // With `followCatalogue` false the store is left as it is (no stale entry
  // is removed), for tools that only look.
  bool AttachStoreAndCatalogue(uint32_t cacheLimit, bool followCatalogue = true);
  // Checks the store against the catalogue (StoreVerifier), attaching both
  // first when they are not; false when that fails or the store has no
  // digest extension.
  bool VerifyStore(const std::vector<std::string>& paths, bool repair, const StoreVerifier::FindingFn& finding,
                   const StoreVerifier::ProgressFn& progress, VerifySummary& summary);

  bool HasStore() const { return m_store.zav() != nullptr; }
  bool HasStoreDigests() { return m_store.digests() != nullptr; }
  // Read-only views for the tools and tests.
  const std::string& version() const { return m_version; }
  const std::string& uin() const { return m_uin; }
  const std::string& clientGuid() const { return m_clientGuid; }
  const VersionSettings& config() const { return m_config; }
  const Syncs& syncs() const { return m_syncs; }
  const FileList& fileList() const { return m_fileList; }

 private:
  // The hidden window's timers: 1 sends CMD_TICK, 2 probes the host.
  static constexpr uintptr_t kTickTimer = 1;
  static constexpr uintptr_t kHostProbeTimer = 2;

  static std::string ReadHostVersion();
  // "UDRADownload\ResUseRec.db" in the library's folder.
  static bool UseRecordPath(std::string& path);
  bool LoadZAV();
  bool FileListPath(std::string& path) const;  // the catalogue file of this installation
  bool LoadFileList();
  bool FinishInitialize();
  bool OpenStore(const std::string& folder);
  void LaunchHostInBackground();
  void PostInitResult(uintptr_t result);
  // True when the store holds the download name (and it is not known to be
  // damaged); `size` is then its stored size, -1 when the store cannot tell.
  bool StoredSize(const std::string& name, int32_t& size);
  DecodedContent LoadContent(const std::string& key, int32_t catalogSize);
  static EntryDecoder Decoder();
  // Whether the store holds a download name that is neither stale nor damaged.
  bool HoldsEntry(const std::string& name) const;
  // Follows the catalogue just loaded: removes the store's entries of another
  // content version (only with a store that records digests).
  void ReconcileStore();
  void SendQosReportIfDue();
  // Kills the hidden window's two timers (nothing when there is no window).
  void KillTimers();

  Logger m_log;
  VersionSettings m_config;
  std::string m_urlRoot;
  FileList m_fileList;
  CataloguePreload m_cataloguePreload;  // Initialize's load of the catalogue, taken by LoadFileList
  std::string m_lastErrorText;
  int32_t m_lastErrorCode = 0;
  UseRecord m_useRecord;
  ArchiveStore m_store;
  EntryChecks m_entryChecks;
  FileOperations m_files;
  UDRAClient m_udraClient;
  Syncs m_syncs;
  DownloadingFiles m_sharedSpaces;
  StatsFacade m_stats;
  // The host this manager launched last; written by the launch thread.
  std::mutex m_hostProcessLock;
  std::unique_ptr<platform::Process> m_hostProcess;
  std::unique_ptr<platform::Thread> m_launchThread;
  // Initialize found a host and started none: the background connect starts
  // one should that host end before its pipe takes the connection.
  std::atomic<bool> m_launchIfHostGone{false};
  ShareState m_udraShareState;
  // Set while Initialize has acquired something that Uninitialize releases:
  // a second Initialize is refused rather than acquiring it all twice.
  bool m_initialized = false;
  // IsFileInArchive and RefreshShareState read the catalogue, the store and
  // the shared state without m_lock; the few places that load or release
  // them close this gate first (holding m_lock as well). Open while the
  // catalogue is loaded.
  ReaderGate m_readGate;
  // Set while a background connect of this start may still send
  // MSG_PIPE_CONNECTED; only that one notice brings the manager up.
  std::atomic<bool> m_connectPending{false};
  // FinishInitialize succeeded since the last Initialize.
  std::atomic<bool> m_up{false};
  std::string m_version;
  std::string m_uin;
  std::string m_clientGuid;
  // Written on the window's thread, read by the game's calls.
  std::atomic<int32_t> m_hostValue1{0};
  std::atomic<int32_t> m_hostValue2{0};
  std::atomic<UDRA_HWND> m_hCallbackHWnd{nullptr};
};

}  // namespace udra

// The download engine: one thread driving a libcurl multi handle by socket
// events (SocketWatch) with up to MaxParallel transfers (connections are kept
// alive and reused between transfers), retries with doubling back-off for
// transient failures, resume of large files from their ".part" file, an
// optional bandwidth limit shared by the running transfers, and the size
// check; the MD5 is checked on the digest checker's threads, which hand
// matching downloads to the store writer. Each request gets one
// CMD_SYNC_RETURN, on the connection that made it.
//
// Several games may be connected at once. A name two games ask for is
// downloaded once and answered to both; a cancel, a priority or a closed
// connection touches only that game's requests. The host pauses only while
// every connected game has asked it to, and a transfer's User-Agent carries
// the user id of the game whose request started it.
#pragma once

#include "host/CurlApi.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/DigestChecker.h"
#include "host/DownloadTable.h"
#include "host/HostSettings.h"
#include "host/JobBook.h"
#include "host/Outbox.h"
#include "host/ShareStateBlock.h"
#include "host/SocketWatch.h"
#include "host/StoreLink.h"
#include "host/StoreWriter.h"
#include "host/Transfer.h"
#include "hostlink/PipeMsg.h"
#include "log/Logger.h"
#include "platform/Sync.h"

namespace udra::host {

// A game's command, or the news that a game connection opened or closed.
struct EngineCommand {
  enum Type { SyncFile, Cancel, SetPriority, Flag, Uin, Tick, Connected, Disconnected } type = SyncFile;
  uint32_t connection = 0;  // the game connection it came from; answers go back there
  SyncFileFields sync{};
  UrlFields urlRecord{};
  uint8_t flag = 0;
  std::string uin;
};

class DownloadEngine {
 public:
  DownloadEngine(const HostSettings& settings, StoreLink& store, DownloadTable& table, ShareStateBlock* state,
                 Outbox& outbox, const Logger& log);
  ~DownloadEngine();
  DownloadEngine(const DownloadEngine&) = delete;
  DownloadEngine& operator=(const DownloadEngine&) = delete;

  bool Start();
  // Any thread.
  void Post(EngineCommand command);
  // Ends the thread; requests still open are answered as aborted.
  void Stop();

  // The two host values: bytes received in the last whole second, and the
  // number of downloads queued, running, waiting to retry or being stored.
  int32_t bytesPerSecond() const { return bytesPerSecond_.load(); }
  int32_t downloadCount() const { return downloadCount_.load(); }

 private:
  int Run();
  static int OnSocket(CURL* easy, curl_socket_t socket, int what, void* self, void* socketData);
  static int OnTimer(CURLM* multi, long timeoutMs, void* self);
  void DriveTransfers();
  int WaitMs() const;
  void TakeCommands();
  std::vector<int32_t> StoredSizes(const std::vector<EngineCommand>& commands);
  // `storedSize`: the size of the file in the store, -1 when absent.
  void OnSyncFile(const SyncFileFields& f, int32_t storedSize, uint32_t connection);
  void OnCancel(const UrlFields& f, uint32_t connection);
  void OnGameCommand(const EngineCommand& c);
  // Stops and forgets the jobs no request waits for any more.
  void DropOrphans(const std::vector<std::string>& keys);
  void StartTransfers();
  size_t TransferLimit() const;
  bool StartOne(Job& job);
  void OnTransferDone(CURL* easy, CURLcode code);
  bool RetryWanted(const Job& job, const Transfer& t, CURLcode code, long status) const;
  void Retry(Job& job, const std::string& why, uint32_t atLeastMs = 0);
  void Fail(Job& job, uint16_t code, uint16_t kind, const std::string& text);
  void TakeStoreResults();
  void PromoteDueRetries();
  void UpdateFigures();
  void RebalanceSpeed();
  void Answer(const Waiter& w, bool ok, int32_t size, uint16_t code, uint16_t kind, const std::string& text);
  void Finish(const std::string& key);
  void StopTransfer(const std::string& key);
  std::string PartPathOf(const Job& job) const;
  std::string UserAgent(const Job& job) const;
  CURL* TakeEasy();

  const HostSettings settings_;
  StoreLink& store_;
  DownloadTable& table_;
  ShareStateBlock* state_;
  Outbox& outbox_;
  const Logger& log_;
  CURLM* multi_ = nullptr;
  SocketWatch watch_;
  std::vector<SocketWatch::Ready> ready_;
  bool timerArmed_ = false;  // libcurl wants curl_multi_socket_action(CURL_SOCKET_TIMEOUT) at timerDue_
  uint32_t timerDue_ = 0;
  std::unique_ptr<StoreWriter> writer_;
  std::unique_ptr<DigestChecker> checker_;
  std::unique_ptr<platform::Thread> thread_;
  std::atomic<bool> stop_{false};

  std::mutex inboxMu_;
  std::vector<EngineCommand> inbox_;
  std::vector<StoreResult> storeResults_;
  std::vector<StoreItem> toCheck_;  // downloads of this round, handed to the checker together

  JobBook jobs_;
  std::map<std::string, std::unique_ptr<Transfer>> active_;  // by job key
  std::multimap<uint32_t, std::string> backoff_;              // due tick -> job key
  std::vector<CURL*> idleEasy_;
  struct Game {
    bool paused = false;
    std::string uin;
  };
  std::map<uint32_t, Game> games_;  // by connection
  bool paused_ = false;
  bool multiplexing_ = false;  // the last transfer that ended ran over HTTP/2
  uint32_t lastState_ = 0xFFFFFFFFu;

  uint32_t secondStart_ = 0;
  int64_t secondBytes_ = 0;
  std::atomic<int32_t> bytesPerSecond_{0};
  std::atomic<int32_t> downloadCount_{0};
};

}  // namespace udra::host

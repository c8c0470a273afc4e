#include "host/DownloadEngine.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "host/HostErrors.h"
#include "platform/System.h"
#include "util/Md5.h"
#include "util/Paths.h"

namespace udra::host {
namespace {

// New transfers wait while this much verified data waits for the store.
constexpr int64_t kMaxStoreBacklog = 128 << 20;
constexpr uint32_t kMaxBackoffMs = 30000;
constexpr const char kUserAgent[] = "UDRAHostApp/1.0.0.1";

bool IsHexDigest(const std::string& text) {
  return text.size() == 32 &&
         std::all_of(text.begin(), text.end(), [](char c) { return isxdigit(static_cast<unsigned char>(c)) != 0; });
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

// Failures that another attempt may cure.
bool IsTransient(CURLcode code, long httpStatus) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_HTTP2:
    case CURLE_PARTIAL_FILE:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_HTTP2_STREAM:
      return true;
    case CURLE_HTTP_RETURNED_ERROR:
      return httpStatus >= 500 || httpStatus == 408 || httpStatus == 429;
    default:
      return false;
  }
}

// Signed distance between two wrapping millisecond ticks.
int32_t TickDiff(uint32_t later, uint32_t earlier) { return static_cast<int32_t>(later - earlier); }

// Whether `url` names one of the schemes the host downloads from. Without
// one libcurl would guess http and look up the first path segment as a host
// name ("v1/Data/x" asks DNS for "v1").
bool HasScheme(const std::string& url) {
  const size_t colon = url.find("://");
  if (colon == std::string::npos || colon == 0) return false;
  return std::all_of(url.begin(), url.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
    return isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
  });
}

void RemovePart(const std::string& path) {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove(path, ignored);
}

}  // namespace

DownloadEngine::DownloadEngine(const HostSettings& settings, StoreLink& store, DownloadTable& table,
                               ShareStateBlock* state, Outbox& outbox, const Logger& log)
    : settings_(settings), store_(store), table_(table), state_(state), outbox_(outbox), log_(log) {}

DownloadEngine::~DownloadEngine() {
  Stop();
  for (CURL* easy : idleEasy_) curl_easy_cleanup(easy);
  if (multi_) curl_multi_cleanup(multi_);
}

bool DownloadEngine::Start() {
  multi_ = curl_multi_init();
  if (!multi_ || !watch_.valid()) return false;
  curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &DownloadEngine::OnSocket);
  curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
  curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &DownloadEngine::OnTimer);
  curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
  // Connections stay open between transfers and are shared by them.
  curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, static_cast<long>(settings_.maxParallel * 2));
  curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(settings_.maxParallel));
  // Transfers to an HTTP/2 server run as streams of one connection, up to
  // MaxStreams of them (nginx allows 128 per connection).
  curl_multi_setopt(multi_, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
  curl_multi_setopt(multi_, CURLMOPT_MAX_CONCURRENT_STREAMS, static_cast<long>(settings_.maxStreams));
  auto deliver = [this](StoreWriter::Results results) {
    bool wake;
    {
      std::lock_guard<std::mutex> lock(inboxMu_);
      wake = storeResults_.empty();
      for (StoreResult& r : results) storeResults_.push_back(std::move(r));
    }
    if (wake) watch_.Wake();
  };
  writer_ = std::make_unique<StoreWriter>(store_, deliver);
  checker_ = std::make_unique<DigestChecker>(settings_.checkThreads, *writer_, deliver);
  writer_->Start();
  checker_->Start();
  thread_ = platform::Thread::Start([this] { return Run(); });
  return thread_ != nullptr;
}

// The loop is woken only when a queue it takes from was empty: a queue
// that already holds something has its wake-up on the way, and the loop
// takes everything queued at once.
void DownloadEngine::Post(EngineCommand command) {
  bool wake;
  {
    std::lock_guard<std::mutex> lock(inboxMu_);
    wake = inbox_.empty();
    inbox_.push_back(std::move(command));
  }
  if (wake) watch_.Wake();
}

void DownloadEngine::Stop() {
  if (!thread_) return;
  stop_ = true;
  watch_.Wake();
  thread_->Wait(platform::kInfinite);
  thread_.reset();
}

int DownloadEngine::Run() {
  secondStart_ = platform::TickCount();
  while (!stop_) {
    TakeCommands();
    TakeStoreResults();
    PromoteDueRetries();
    StartTransfers();
    DriveTransfers();
    StartTransfers();
    UpdateFigures();
    watch_.Wait(WaitMs(), ready_);
  }
  // Orderly end: running transfers stop (their partial files stay for a
  // later resume), verified downloads are still stored and answered, every
  // other request is answered as aborted.
  for (auto& entry : active_) {
    curl_multi_remove_handle(multi_, entry.second->easy());
    idleEasy_.push_back(entry.second->Release());
  }
  active_.clear();
  checker_->Stop();
  writer_->Stop();
  TakeStoreResults();
  for (const std::string& key : jobs_.Keys()) {
    if (Job* job = jobs_.Find(key)) Fail(*job, kCodeAborted, kKindAborted, "UDRAHostApp is shutting down");
  }
  UpdateFigures();
  return 0;
}

int DownloadEngine::OnSocket(CURL*, curl_socket_t socket, int what, void* self, void*) {
  static_cast<DownloadEngine*>(self)->watch_.Watch(socket, what);
  return 0;
}

int DownloadEngine::OnTimer(CURLM*, long timeoutMs, void* self) {
  auto* engine = static_cast<DownloadEngine*>(self);
  engine->timerArmed_ = timeoutMs >= 0;
  if (timeoutMs >= 0) engine->timerDue_ = platform::TickCount() + static_cast<uint32_t>(std::min(timeoutMs, 3600000L));
  return 0;
}

// Lets libcurl act on the sockets found ready and on its timer, then takes
// the transfers that ended.
void DownloadEngine::DriveTransfers() {
  int running = 0;
  for (const SocketWatch::Ready& r : ready_) curl_multi_socket_action(multi_, r.fd, r.flags, &running);
  ready_.clear();
  if (timerArmed_ && TickDiff(platform::TickCount(), timerDue_) >= 0) {
    timerArmed_ = false;
    curl_multi_socket_action(multi_, CURL_SOCKET_TIMEOUT, 0, &running);
  }
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi_, &left))
    if (msg->msg == CURLMSG_DONE) OnTransferDone(msg->easy_handle, msg->data.result);
  if (!toCheck_.empty()) checker_->Submit(std::move(toCheck_));
  toCheck_.clear();
}

// Until libcurl's timer or the next retry is due, at most a second.
int DownloadEngine::WaitMs() const {
  const uint32_t now = platform::TickCount();
  int timeout = 1000;
  if (timerArmed_) timeout = std::clamp(TickDiff(timerDue_, now), 0, timeout);
  if (!backoff_.empty()) timeout = std::clamp(TickDiff(backoff_.begin()->first, now), 0, timeout);
  return timeout;
}

void DownloadEngine::TakeCommands() {
  std::vector<EngineCommand> commands;
  {
    std::lock_guard<std::mutex> lock(inboxMu_);
    commands.swap(inbox_);
  }
  const std::vector<int32_t> storedSizes = StoredSizes(commands);
  for (size_t i = 0; i < commands.size(); ++i) {
    EngineCommand& c = commands[i];
    if (c.type == EngineCommand::SyncFile)
      OnSyncFile(c.sync, storedSizes[i], c.connection);
    else
      OnGameCommand(c);
  }
}

void DownloadEngine::OnGameCommand(const EngineCommand& c) {
  switch (c.type) {
    case EngineCommand::SyncFile:
      break;
    case EngineCommand::Cancel:
      OnCancel(c.urlRecord, c.connection);
      break;
    case EngineCommand::SetPriority:
      jobs_.SetPriority(c.urlRecord.url, c.urlRecord.value, c.connection);
      break;
    case EngineCommand::Flag:
      games_[c.connection].paused = (c.flag & kFlagPause) != 0;
      log_.Format(Logger::T, "DownloadEngine: flag 0x%02X from connection %u", c.flag, c.connection);
      break;
    case EngineCommand::Uin:
      games_[c.connection].uin = c.uin;
      break;
    case EngineCommand::Tick:
      // Answered here, after the commands that came before it.
      UpdateFigures();
      outbox_.Push(c.connection, MakeHostValues(bytesPerSecond(), downloadCount()));
      break;
    case EngineCommand::Connected:
      games_[c.connection];
      break;
    case EngineCommand::Disconnected:
      games_.erase(c.connection);
      DropOrphans(jobs_.RemoveConnection(c.connection));
      break;
  }
  const bool paused = !games_.empty() && std::all_of(games_.begin(), games_.end(),
                                                     [](const auto& g) { return g.second.paused; });
  if (paused != paused_) log_.Write(Logger::T, paused ? "DownloadEngine: paused" : "DownloadEngine: running");
  paused_ = paused;
}

// The store's sizes of the files the sync commands ask for, -1 for those it
// does not hold (or when it cannot be read), looked up together: one read
// of the store per round instead of one per file. With a store that records
// digests, an entry counts only when it was stored with the digest asked
// for: one of another content version, or of unknown digest, is downloaded
// again and replaced.
std::vector<int32_t> DownloadEngine::StoredSizes(const std::vector<EngineCommand>& commands) {
  std::vector<int32_t> sizes(commands.size(), -1);
  std::vector<const char*> names(commands.size(), nullptr);
  bool any = false;
  for (size_t i = 0; i < commands.size(); ++i) {
    const SyncFileFields& f = commands[i].sync;
    if (commands[i].type == EngineCommand::SyncFile && !f.name.empty() && !jobs_.Find(f.name)) {
      names[i] = f.name.c_str();
      any = true;
    }
  }
  if (!any || !store_.Reopen()) return sizes;
  const uint32_t count = static_cast<uint32_t>(names.size());
  IZavDigests* digests = store_.digests();
  if (!digests) {
    store_.store()->GetEntrySizes(names.data(), count, sizes.data());
    return sizes;
  }
  std::vector<ZavDigestText> recorded(names.size());
  digests->GetEntryDigests(names.data(), count, sizes.data(), recorded.data());
  for (size_t i = 0; i < names.size(); ++i) {
    if (sizes[i] >= 0 && Upper(commands[i].sync.packedDigest) != recorded[i].text) sizes[i] = -1;
  }
  return sizes;
}

void DownloadEngine::OnSyncFile(const SyncFileFields& f, int32_t storedSize, uint32_t connection) {
  Waiter w{f.syncId, f.name, f.url, f.priority, f.userParam, connection};
  log_.Format(Logger::V, "DownloadEngine: sync %d %s", f.syncId, f.name.c_str());
  if (f.name.empty() || f.url.empty() || f.packedSize < 0 || !IsHexDigest(f.packedDigest)) {
    Answer(w, false, 0, kCodeNone, kKindContent, "invalid request: name, URL, size or digest");
    return;
  }
  if (!HasScheme(f.url)) {
    Answer(w, false, 0, CURLE_URL_MALFORMAT, kKindContent,
           "the URL has no scheme (the URL root must start with http://, https:// or file://): " + f.url);
    return;
  }
  if (storedSize >= 0 && !jobs_.Find(f.name)) {
    Answer(w, true, storedSize, kCodeNone, 0, "");
    return;
  }
  bool created = false;
  Job* job = jobs_.Add(w, f.packedSize, Upper(f.packedDigest), &created);
  if (created) job->tableOffset = table_.EntryFor(f.name, f.packedSize);
}

void DownloadEngine::OnCancel(const UrlFields& f, uint32_t connection) {
  // The library has closed the sync already when it sends the cancel, so
  // nothing is answered; only a download nobody else waits for is stopped.
  DropOrphans(jobs_.Cancel(f.url, f.value, connection));
}

void DownloadEngine::DropOrphans(const std::vector<std::string>& keys) {
  for (const std::string& key : keys) {
    Job* job = jobs_.Find(key);
    if (!job || job->state == JobState::Storing) continue;  // stored all the same, answered to nobody
    log_.Format(Logger::T, "DownloadEngine: cancelled %s", job->name.c_str());
    if (job->state == JobState::Active) StopTransfer(key);
    Finish(key);
  }
}

std::string DownloadEngine::PartPathOf(const Job& job) const {
  const std::string id = job.key + "|" + job.digest;
  return JoinPath(JoinPath(store_.storeFolder(), "HostTemp"), Md5::HexDigest(id.data(), id.size()) + ".part");
}

std::string DownloadEngine::UserAgent(const Job& job) const {
  const auto game = job.waiters.empty() ? games_.end() : games_.find(job.waiters.front().connection);
  if (game == games_.end() || game->second.uin.empty()) return kUserAgent;
  return std::string(kUserAgent) + " uin/" + game->second.uin;
}

CURL* DownloadEngine::TakeEasy() {
  if (idleEasy_.empty()) return curl_easy_init();
  CURL* easy = idleEasy_.back();
  idleEasy_.pop_back();
  return easy;
}

void DownloadEngine::StartTransfers() {
  bool started = false;
  while (!paused_ && !stop_ && active_.size() < TransferLimit() &&
         checker_->pendingBytes() + writer_->pendingBytes() < kMaxStoreBacklog) {
    Job* job = jobs_.NextQueued();
    if (!job) break;
    jobs_.MarkActive(*job);
    if (StartOne(*job)) started = true;
  }
  if (started) RebalanceSpeed();
}

// MaxParallel connections, or MaxStreams while the server multiplexes: the
// last transfer that ended said so. Should a server stop multiplexing, the
// transfers beyond its connections wait inside libcurl until one is free, and
// the next transfer that ends brings the limit back.
size_t DownloadEngine::TransferLimit() const {
  return static_cast<size_t>(multiplexing_ ? settings_.maxStreams : settings_.maxParallel);
}

bool DownloadEngine::StartOne(Job& job) {
  TransferSetup setup;
  setup.url = job.url;
  setup.userAgent = UserAgent(job);
  setup.expectedSize = job.packedSize;
  if (job.packedSize > 0 && job.packedSize >= settings_.resumeMinSize) {
    setup.partPath = PartPathOf(job);
    std::error_code ignored;
    std::filesystem::create_directories(ParentFolder(setup.partPath), ignored);
  }
  setup.connectTimeout = settings_.connectTimeout;
  setup.lowSpeedTimeout = settings_.lowSpeedTimeout;
  setup.lowSpeedLimit = settings_.lowSpeedLimit;
  setup.caFile = settings_.caFile;
  CURL* easy = TakeEasy();
  auto transfer = std::make_unique<Transfer>(table_, job.tableOffset);
  if (!easy || !transfer->Setup(easy, setup)) {
    if (easy) idleEasy_.push_back(easy);
    Fail(job, CURLE_WRITE_ERROR, kKindStore, "cannot open the partial file " + setup.partPath);
    return false;
  }
  if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
    idleEasy_.push_back(transfer->Release());
    Fail(job, CURLE_FAILED_INIT, kKindNetwork, "cannot start the transfer");
    return false;
  }
  ++job.attempts;
  if (transfer->resumedFrom() > 0)
    log_.Format(Logger::T, "DownloadEngine: resuming %s at %lld", job.name.c_str(),
                static_cast<long long>(transfer->resumedFrom()));
  active_[job.key] = std::move(transfer);
  return true;
}

void DownloadEngine::StopTransfer(const std::string& key) {
  auto it = active_.find(key);
  if (it == active_.end()) return;
  secondBytes_ += it->second->TakeNewBytes();
  curl_multi_remove_handle(multi_, it->second->easy());
  idleEasy_.push_back(it->second->Release());
  active_.erase(it);
  RebalanceSpeed();
}

void DownloadEngine::OnTransferDone(CURL* easy, CURLcode code) {
  auto it = std::find_if(active_.begin(), active_.end(),
                         [easy](const auto& entry) { return entry.second->easy() == easy; });
  if (it == active_.end()) {
    curl_multi_remove_handle(multi_, easy);
    return;
  }
  const std::string key = it->first;
  std::unique_ptr<Transfer> t = std::move(it->second);
  active_.erase(it);
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  long version = CURL_HTTP_VERSION_NONE;  // file:// and failed connects tell nothing
  curl_easy_getinfo(easy, CURLINFO_HTTP_VERSION, &version);
  if (version != CURL_HTTP_VERSION_NONE) multiplexing_ = version >= CURL_HTTP_VERSION_2_0;
  secondBytes_ += t->TakeNewBytes();
  curl_multi_remove_handle(multi_, easy);
  if (code == CURLE_OK) t->Finish();
  idleEasy_.push_back(t->Release());  // the partial file is closed from here on
  RebalanceSpeed();
  Job* job = jobs_.Find(key);
  if (!job) return;
  const std::string part = t->partPath();

  // A partial file the server does not continue (416, the whole file, or
  // another part of it) is thrown away and the file fetched from its start:
  // at once the first time, as a retry after that. Nothing of such an answer
  // was written to the partial file.
  if (t->RangeRefused(code, status)) {
    RemovePart(part);
    const std::string why = "the server did not continue the partial file at byte " +
                            std::to_string(t->resumedFrom()) + (status ? " (HTTP " + std::to_string(status) + ")" : "");
    if (!job->restartedOnce) {
      job->restartedOnce = true;
      --job->attempts;  // starting over is not one of the retries
      log_.Format(Logger::W, "DownloadEngine: %s: %s, starting over", job->name.c_str(), why.c_str());
      jobs_.Requeue(*job);
      return;
    }
    if (job->attempts <= settings_.maxRetries) return Retry(*job, why);
    return Fail(*job, CURLE_RANGE_ERROR, kKindNetwork, why);
  }
  switch (t->sinkError()) {
    case SinkError::WriteFailed:
      return Fail(*job, CURLE_WRITE_ERROR, kKindStore, "cannot write the partial file " + part);
    case SinkError::TooLong:
    case SinkError::SizeAnnounced:
      RemovePart(part);
      return Fail(*job, static_cast<uint16_t>(code), kKindContent,
                  "the server's file is larger or smaller than " + std::to_string(job->packedSize) + " bytes");
    case SinkError::RangeRefused:  // taken above
    case SinkError::None:
      break;
  }
  if (code != CURLE_OK) {
    const std::string text = std::string(curl_easy_strerror(code)) + (status ? " (HTTP " + std::to_string(status) + ")" : "") +
                             (*t->errorText() ? ": " + std::string(t->errorText()) : "");
    if (RetryWanted(*job, *t, code, status)) {
      const int64_t after = code == CURLE_HTTP_RETURNED_ERROR ? t->retryAfterSeconds() : -1;
      if (after <= settings_.retryAfterLimit)
        return Retry(*job, text, after > 0 ? static_cast<uint32_t>(after) * 1000u : 0);
      // A server that asks for more patience than the host has is answered at
      // once rather than waited for; a partial file stays for a later sync.
      return Fail(*job, static_cast<uint16_t>(code), kKindNetwork,
                  text + ": the server asks to retry after " + std::to_string(after) + " s, longer than the " +
                      std::to_string(settings_.retryAfterLimit) + " s the host waits");
    }
    if (t->inMemory() || code == CURLE_HTTP_RETURNED_ERROR) RemovePart(part);
    return Fail(*job, static_cast<uint16_t>(code), kKindNetwork, text);
  }
  if (t->received() != job->packedSize) {
    RemovePart(part);
    return Fail(*job, kCodeNone, kKindContent,
                "size " + std::to_string(t->received()) + ", expected " + std::to_string(job->packedSize));
  }
  jobs_.MarkStoring(*job);
  StoreItem item;
  item.key = key;
  item.name = job->name;
  item.size = t->received();
  item.digest = job->digest;
  if (t->inMemory())
    item.data = std::move(t->memory());
  else
    item.filePath = part;
  toCheck_.push_back(std::move(item));
}

// Transient failures are tried again up to MaxRetries times. A stall that
// brought not one byte (a server that accepts and then says nothing, or a
// connection that never completes) is tried again only after the first
// attempt: such a server rarely recovers within seconds, and each further
// stall would hold the sync for another timeout.
bool DownloadEngine::RetryWanted(const Job& job, const Transfer& t, CURLcode code, long status) const {
  if (!IsTransient(code, status) || job.attempts > settings_.maxRetries) return false;
  const bool silentStall = code == CURLE_OPERATION_TIMEDOUT && t.received() == t.resumedFrom();
  return !silentStall || job.attempts <= 1;
}

// The back-off doubles per attempt; a server's Retry-After (`atLeastMs`,
// already bounded by RetryAfterLimit) lengthens it.
void DownloadEngine::Retry(Job& job, const std::string& why, uint32_t atLeastMs) {
  const int shift = std::min(std::max(job.attempts - 1, 0), 16);
  const uint32_t delay = std::max<uint32_t>(
      atLeastMs, static_cast<uint32_t>(
                     std::min<uint64_t>(static_cast<uint64_t>(settings_.retryDelayMs) << shift, kMaxBackoffMs)));
  log_.Format(Logger::W, "DownloadEngine: %s failed (%s), attempt %d, next in %u ms", job.name.c_str(),
              why.c_str(), job.attempts, delay);
  jobs_.MarkBackoff(job);
  backoff_.emplace(platform::TickCount() + delay, job.key);
}

void DownloadEngine::PromoteDueRetries() {
  const uint32_t now = platform::TickCount();
  while (!backoff_.empty() && TickDiff(now, backoff_.begin()->first) >= 0) {
    const std::string key = backoff_.begin()->second;
    backoff_.erase(backoff_.begin());
    Job* job = jobs_.Find(key);
    if (job && job->state == JobState::Backoff) jobs_.Requeue(*job);
  }
}

void DownloadEngine::TakeStoreResults() {
  std::vector<StoreResult> results;
  {
    std::lock_guard<std::mutex> lock(inboxMu_);
    results.swap(storeResults_);
  }
  for (const StoreResult& r : results) {
    Job* job = jobs_.Find(r.key);
    if (!job) continue;
    RemovePart(job->packedSize >= settings_.resumeMinSize && job->packedSize > 0 ? PartPathOf(*job) : "");
    if (!r.digestMatched && r.digestFound.empty()) {
      Fail(*job, CURLE_WRITE_ERROR, kKindStore, "cannot read the partial file back");
      continue;
    }
    if (!r.digestMatched) {
      Fail(*job, kCodeNone, kKindContent, "MD5 " + r.digestFound + ", expected " + job->digest);
      continue;
    }
    if (!r.ok) {
      if (r.storeError == kZavErrDiskFull) outbox_.Broadcast(MakeHostEvent(kEventDiskFull));
      Fail(*job, static_cast<uint16_t>(r.storeError), kKindStore,
           "the store refused the entry, error " + std::to_string(r.storeError));
      continue;
    }
    table_.SetDone(job->tableOffset, job->packedSize);
    for (const Waiter& w : job->waiters) Answer(w, true, job->packedSize, kCodeNone, 0, "");
    Finish(r.key);
  }
}

void DownloadEngine::Fail(Job& job, uint16_t code, uint16_t kind, const std::string& text) {
  log_.Format(Logger::E, "DownloadEngine: %s failed, code %u kind %u: %s", job.name.c_str(), code, kind,
              text.c_str());
  // The game shows this text to a person: it names what was fetched.
  const std::string answer = text + "; URL " + job.url;
  for (const Waiter& w : job.waiters) Answer(w, false, 0, code, kind, answer);
  Finish(job.key);
}

void DownloadEngine::Finish(const std::string& key) {
  for (auto it = backoff_.begin(); it != backoff_.end();) it = it->second == key ? backoff_.erase(it) : std::next(it);
  if (Job* job = jobs_.Find(key)) table_.Release(job->tableOffset);
  jobs_.Erase(key);
}

void DownloadEngine::Answer(const Waiter& w, bool ok, int32_t size, uint16_t code, uint16_t kind,
                            const std::string& text) {
  outbox_.Push(w.connection,
               MakeSyncReturn(w.syncId, w.name.c_str(), size, ok, ok ? 0 : code, ok ? 0 : kind, text.c_str()));
}

void DownloadEngine::RebalanceSpeed() {
  if (settings_.bandwidthLimit <= 0 || active_.empty()) return;
  const int64_t share = std::max<int64_t>(1, settings_.bandwidthLimit / static_cast<int64_t>(active_.size()));
  for (auto& entry : active_) entry.second->SetMaxRecvSpeed(share);
}

void DownloadEngine::UpdateFigures() {
  for (auto& entry : active_) secondBytes_ += entry.second->TakeNewBytes();
  const uint32_t now = platform::TickCount();
  const int32_t elapsed = TickDiff(now, secondStart_);
  if (elapsed >= 1000) {
    bytesPerSecond_ = static_cast<int32_t>(std::min<int64_t>(secondBytes_ * 1000 / elapsed, 0x7FFFFFFF));
    secondBytes_ = 0;
    secondStart_ = now;
  }
  const int32_t count = static_cast<int32_t>(jobs_.size());
  const int32_t before = downloadCount_.exchange(count);
  const uint32_t word = count > 0 ? 1u : 0u;
  if (word != lastState_ && (!state_ || state_->SetWord(word))) lastState_ = word;
  if (before > 0 && count == 0) outbox_.Broadcast(MakeHostEvent(kEventIdle));
}

}  // namespace udra::host

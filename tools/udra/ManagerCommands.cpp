// Commands that bring the manager up the way a game does: load the library,
// Initialize with a callback window, pump messages, and Uninitialize.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "GameSession.h"
#include "ProgressLine.h"
#include "StartFailure.h"
#include "SyncOutcome.h"
#include "config/VersionSettings.h"
#include "platform/CodePage.h"
#include "platform/System.h"
#include "platform/Terminal.h"

namespace udra::tool {
namespace {

constexpr uint32_t kStartUpTimeoutMs = 120000;
std::atomic<bool> g_interrupted{false};

std::string Hex(const uint8_t bytes[16]) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 0; i < 16; ++i) {
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 15];
  }
  return out;
}

// Opens the installation and brings the manager up; null after a message on
// standard error when that fails.
std::unique_ptr<GameSession> StartSession(const Options& options) {
  auto session = std::make_unique<GameSession>();
  std::string error;
  if (!session->Open(options.dir, error)) {
    std::fprintf(stderr, "udra: %s\n", error.c_str());
    return nullptr;
  }
  std::string url = options.url;
  UDRAManagerInfo info{};
  const bool haveInfo = session->Info(info);
  std::string fileList = info.fileListPath;
  if (!haveInfo) {
    // A library without the diagnostics exports (the Windows build): the
    // tool reads the installation's version settings itself.
    VersionSettings settings;
    settings.Load(options.dir);
    if (url.empty()) url = settings.DownloadUrlRoot();
    fileList = settings.FileListPath();
  } else if (url.empty()) {
    url = info.downloadUrlRoot;
  }
  const int64_t started = platform::UnixTime();
  if (!session->Initialize(url, options.cacheLimit, kStartUpTimeoutMs, error)) {
    std::fprintf(stderr, "udra: %s\n", error.c_str());
    StartFailureFacts facts;
    facts.folder = options.dir;
    facts.fileList = fileList;
    facts.processId = platform::CurrentProcessId();
    facts.since = started;
    for (const std::string& line : ExplainStartFailure(facts)) std::fprintf(stderr, "udra: %s\n", line.c_str());
    return nullptr;
  }
  return session;
}

int Finish(GameSession& session, int status) {
  if (!session.Shutdown()) {
    std::fprintf(stderr, "udra: Uninitialize failed\n");
    return status ? status : 1;
  }
  return status;
}

// Catalogue names are GBK; the terminal and JSON want UTF-8.
std::string Display(const char* ansi) {
  const std::string utf8 = platform::AnsiToUtf8(ansi);
  return utf8.empty() ? ansi : utf8;
}

std::string Display(const std::string& ansi) { return Display(ansi.c_str()); }

void PrintEntry(const FileInfo& f, bool json) {
  const bool folder = f.flags != UDRA_FILEINFO_FILE;
  const std::string key = Display(f.key);
  if (json) {
    std::printf("{\"key\":%s,\"folder\":%s,\"size\":%d,\"packedSize\":%d,\"package\":%s,\"digest\":\"%s\","
                "\"packedDigest\":\"%s\"}\n",
                JsonString(key).c_str(), folder ? "true" : "false", f.size, f.packedSize,
                JsonString(Display(f.packageName)).c_str(), folder ? "" : Hex(f.digest).c_str(),
                folder ? "" : Hex(f.packedDigest).c_str());
  } else if (folder) {
    std::printf("%-10s %s\\\n", "<dir>", key.c_str());
  } else {
    std::printf("%10d %s  %s\n", f.size, Hex(f.digest).c_str(), key.c_str());
  }
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Redraws one line in place: carriage return, the line, clear to its end.
void DrawProgress(const std::string& label, const SyncInfo& info, RateMeter& meter) {
  if (!platform::StandardErrorIsTerminal()) return;
  meter.Add(NowMs(), info.doneSize);
  const std::string line = ProgressText(label, info.doneSize, info.totalSize, meter.BytesPerSecond(),
                                        platform::TerminalColumns());
  std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
  std::fflush(stderr);
}

// The catalogue's own spelling of `path`; false when it is not catalogued. A
// library without the lookup gets the path as given.
bool CatalogueName(GameSession& session, const std::string& path, std::string& key) {
  auto lookup = reinterpret_cast<UDRA_CatalogueKeyFn>(session.Symbol("udra_catalogue_key"));
  if (!lookup) {
    key = path;
    return true;
  }
  char buffer[260];
  if (lookup(session.manager(), path.c_str(), buffer, sizeof buffer) != 0) return false;
  key = buffer;
  return true;
}

// Syncs the catalogued `paths` one after the other with a progress line;
// 0 when every one ended done.
int SyncPaths(GameSession& session, const Options& options, const std::vector<std::string>& paths) {
  g_interrupted = false;
  auto previous = std::signal(SIGINT, [](int) { g_interrupted = true; });
  auto failure = reinterpret_cast<UDRA_GetSyncFailureFn>(session.Symbol("udra_get_sync_failure"));
  int status = 0;
  for (const std::string& path : paths) {
    std::string key;
    if (!CatalogueName(session, path, key)) {
      std::fprintf(stderr, "udra: %s: not catalogued\n", Display(path).c_str());
      status = 1;
      continue;
    }
    SyncOutcome outcome;
    outcome.path = Display(key);
    RateMeter meter;
    int32_t syncId = -1;
    const bool returned = session.Sync(key, options.priority, options.timeoutSeconds * 1000u,
                                       [&](const SyncInfo& now) {
                                         DrawProgress(outcome.path, now, meter);
                                         return !g_interrupted;  // Ctrl-C cancels through CancelSync
                                       },
                                       outcome.info, &syncId);
    if (platform::StandardErrorIsTerminal()) std::fprintf(stderr, "\r\x1b[K");
    if (syncId == -1) {
      std::fprintf(stderr, "udra: %s: not catalogued\n", outcome.path.c_str());
      status = 1;
      continue;
    }
    outcome.timedOut = !returned;
    outcome.haveFailure = failure && failure(session.manager(), syncId, &outcome.failure) == 0;
    if (outcome.info.state != UDRA_SYNC_DONE) status = 1;
    std::printf("%s\n", (options.json ? OutcomeJson(outcome) : OutcomeText(outcome)).c_str());
    std::fflush(stdout);
    if (g_interrupted) break;
  }
  std::signal(SIGINT, previous);
  return status;
}

void AddKey(void* context, const char* key) { static_cast<std::vector<std::string>*>(context)->push_back(key); }

}  // namespace

int InitCommand(const Options& options) {
  auto session = StartSession(options);
  if (!session) return 1;
  std::printf(options.json ? "{\"initialized\":true}\n" : "initialized\n");
  return Finish(*session, 0);
}

int ListCommand(const Options& options) {
  auto session = StartSession(options);
  if (!session) return 1;
  int status = 0;
  std::vector<std::string> paths = options.paths;
  const bool everything = paths.empty();
  if (everything) {
    auto top = reinterpret_cast<UDRA_CatalogueTopLevelFn>(session->Symbol("udra_catalogue_top_level"));
    if (!top || top(session->manager(), &AddKey, &paths) < 0) {
      std::fprintf(stderr, "udra: the library cannot list its whole catalogue; name a PATH\n");
      return Finish(*session, 1);
    }
  }
  for (const std::string& given : paths) {
    std::string path;
    FileInfo* list = nullptr;
    const bool catalogued = CatalogueName(*session, given, path);
    if (catalogued && everything && session->manager()->IsFolder(path.c_str())) {
      FileInfo folder{};
      std::snprintf(folder.key, sizeof folder.key, "%s", path.c_str());
      folder.flags = UDRA_FILEINFO_FOLDER;
      folder.size = -1;
      PrintEntry(folder, options.json);
    }
    const int32_t count = catalogued ? session->manager()->ListFiles(path.c_str(), &list) : 0;
    if (count <= 0 && catalogued && session->manager()->IsFolder(path.c_str())) continue;  // an empty folder
    if (count <= 0) {
      std::fprintf(stderr, "udra: %s: not catalogued\n", Display(given).c_str());
      status = 1;
      continue;
    }
    for (int32_t i = 0; i < count; ++i) PrintEntry(list[i], options.json);
    session->manager()->FreeFileList(list);
  }
  return Finish(*session, status);
}

int StatCommand(const Options& options) {
  auto session = StartSession(options);
  if (!session) return 1;
  int status = 0;
  for (const std::string& given : options.paths) {
    FileInfo* list = nullptr;
    IResourceManager* m = session->manager();
    std::string path;
    if (!CatalogueName(*session, given, path)) {
      std::fprintf(stderr, "udra: %s: not catalogued\n", Display(given).c_str());
      status = 1;
      continue;
    }
    const bool folder = m->IsFolder(path.c_str());
    const int32_t count = folder ? 0 : m->ListFiles(path.c_str(), &list);
    if (!folder && count != 1) {
      std::fprintf(stderr, "udra: %s: not catalogued\n", Display(path).c_str());
      status = 1;
      continue;
    }
    const bool present = m->IsFileInArchive(path.c_str());
    if (options.json) {
      std::printf("{\"path\":%s,\"folder\":%s,\"inArchive\":%s", JsonString(Display(path)).c_str(), folder ? "true" : "false",
                  present ? "true" : "false");
      if (list)
        std::printf(",\"size\":%d,\"packedSize\":%d,\"digest\":\"%s\",\"package\":%s", list->size, list->packedSize,
                    Hex(list->digest).c_str(), JsonStringFromAnsi(list->packageName).c_str());
      std::printf("}\n");
    } else {
      std::printf("%s: %s, %s", Display(path).c_str(), folder ? "folder" : "file", present ? "in the store" : "not downloaded");
      if (list) std::printf(", %d bytes, MD5 %s%s%s", list->size, Hex(list->digest).c_str(),
                            *list->packageName ? ", in package " : "", Display(list->packageName).c_str());
      std::printf("\n");
    }
    m->FreeFileList(list);
  }
  return Finish(*session, status);
}

int CatCommand(const Options& options) {
  auto session = StartSession(options);
  if (!session) return 1;
  // The files' bytes exactly: a text-mode stream would add a CR before every LF.
  platform::UseBinaryStandardOutput();
  int status = 0;
  for (const std::string& path : options.paths) {
    IResourceManager* m = session->manager();
    const int32_t handle = m->OpenFile(path.c_str(), "r");
    if (handle == -1) {
      std::fprintf(stderr, "udra: %s: cannot open (not catalogued or not downloaded)\n", Display(path).c_str());
      status = 1;
      continue;
    }
    for (;;) {
      char buffer[65536];
      uint32_t size = sizeof buffer;
      if (!m->ReadOpenFile(handle, buffer, &size, 0)) {
        std::fprintf(stderr, "udra: %s: read failed\n", path.c_str());
        status = 1;
        break;
      }
      if (size == 0) break;
      std::fwrite(buffer, 1, size, stdout);
    }
    m->CloseFile(handle);
  }
  std::fflush(stdout);
  return Finish(*session, status);
}

int ExtractCommand(const Options& options) {
  auto session = StartSession(options);
  if (!session) return 1;
  int status = 0;
  for (const std::string& path : options.paths) {
    const bool ok = session->manager()->ExtractFile(path.c_str());
    if (!ok) status = 1;
    std::printf(options.json ? "{\"path\":%s,\"extracted\":%s}\n" : "%s: %s\n",
                options.json ? JsonString(Display(path)).c_str() : Display(path).c_str(),
                options.json ? (ok ? "true" : "false") : (ok ? "extracted below UDRADownload" : "failed"));
  }
  return Finish(*session, status);
}

int SyncCommand(const Options& options) {
  auto session = StartSession(options);
  if (!session) return 1;
  const int status = SyncPaths(*session, options, options.paths);
  return Finish(*session, status);
}

int PreDownloadCommand(const Options& options) {
  auto session = StartSession(options);
  if (!session) return 1;
  auto list = reinterpret_cast<UDRA_PredownloadListFn>(session->Symbol("udra_predownload_list"));
  std::vector<std::string> names;
  if (!list || list(session->manager(), &AddKey, &names) < 0) {
    std::fprintf(stderr, "udra: the library gives no pre-download list\n");
    return Finish(*session, 1);
  }
  if (names.empty()) {
    std::fprintf(stderr, "udra: the pre-download list is empty (UIOptions.ini [OptionPreDown] PreDownPath, "
                         "or PreDownloadPackageCount in UDRAConfig.ini)\n");
    return Finish(*session, 0);
  }
  return Finish(*session, SyncPaths(*session, options, names));
}

}  // namespace udra::tool

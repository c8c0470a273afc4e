// Commands that bring the manager up the way a game does: load the library,
// Initialize with a callback window, pump messages, and Uninitialize.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>

#include "Commands.h"
#include "GameSession.h"
#include "StartFailure.h"
#include "platform/CodePage.h"
#include "platform/System.h"

namespace udra::tool {
namespace {

constexpr uint32_t kStartUpTimeoutMs = 120000;
std::atomic<bool> g_interrupted{false};

const char* StateName(int32_t state) {
  switch (state) {
    case UDRA_SYNC_RUNNING: return "running";
    case UDRA_SYNC_DONE: return "done";
    case UDRA_SYNC_FAILED: return "failed";
    case UDRA_SYNC_ERROR_CODE22: return "server error";
    case UDRA_SYNC_CANCELLED: return "cancelled";
    case UDRA_SYNC_ERROR_KIND1: return "failed (kind 1)";
    case UDRA_SYNC_ERROR_KIND2: return "failed (kind 2)";
    case UDRA_SYNC_ERROR_KIND3: return "failed (kind 3)";
    default: return "failed (other)";
  }
}

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
  if (url.empty() && haveInfo) url = info.downloadUrlRoot;
  const int64_t started = platform::UnixTime();
  if (!session->Initialize(url, options.cacheLimit, kStartUpTimeoutMs, error)) {
    std::fprintf(stderr, "udra: %s\n", error.c_str());
    StartFailureFacts facts;
    facts.folder = options.dir;
    facts.fileList = info.fileListPath;
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

void DrawProgress(const std::string& path, const SyncInfo& info) {
  if (!isatty(STDERR_FILENO)) return;
  const int width = 30;
  const double share = info.totalSize > 0 ? double(info.doneSize) / info.totalSize : 0.0;
  const int filled = share >= 1.0 ? width : int(share * width);
  std::fprintf(stderr, "\r%-30.30s [%.*s%*s] %3d%% %d/%d", path.c_str(), filled,
               "##############################", width - filled, "", int(share * 100), info.doneSize,
               info.totalSize);
  std::fflush(stderr);
}

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
  for (const std::string& path : options.paths.empty() ? std::vector<std::string>{""} : options.paths) {
    FileInfo* list = nullptr;
    const int32_t count = session->manager()->ListFiles(path.c_str(), &list);
    if (count <= 0) {
      std::fprintf(stderr, "udra: %s: not catalogued\n", Display(path).c_str());
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
  for (const std::string& path : options.paths) {
    FileInfo* list = nullptr;
    IResourceManager* m = session->manager();
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
                    Hex(list->digest).c_str(), JsonString(list->packageName).c_str());
      std::printf("}\n");
    } else {
      std::printf("%s: %s, %s", Display(path).c_str(), folder ? "folder" : "file", present ? "in the store" : "not downloaded");
      if (list) std::printf(", %d bytes, MD5 %s%s%s", list->size, Hex(list->digest).c_str(),
                            *list->packageName ? ", in package " : "", list->packageName);
      std::printf("\n");
    }
    m->FreeFileList(list);
  }
  return Finish(*session, status);
}

int CatCommand(const Options& options) {
  auto session = StartSession(options);
  if (!session) return 1;
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
  g_interrupted = false;
  auto previous = std::signal(SIGINT, [](int) { g_interrupted = true; });
  int status = 0;
  for (const std::string& path : options.paths) {
    SyncInfo info{};
    const bool returned = session->Sync(path, options.priority, options.timeoutSeconds * 1000u,
                                        [&](const SyncInfo& now) {
                                          DrawProgress(path, now);
                                          return !g_interrupted;  // Ctrl-C cancels through CancelSync
                                        },
                                        info);
    if (isatty(STDERR_FILENO)) std::fprintf(stderr, "\n");
    if (!returned && info.state == 0 && info.name[0] == 0) {
      std::fprintf(stderr, "udra: %s: not catalogued\n", Display(path).c_str());
      status = 1;
      continue;
    }
    if (info.state != UDRA_SYNC_DONE) status = 1;
    if (options.json)
      std::printf("{\"path\":%s,\"state\":%d,\"stateName\":\"%s\",\"totalSize\":%d,\"doneSize\":%d,\"timedOut\":%s}\n",
                  JsonString(Display(path)).c_str(), info.state, StateName(info.state), info.totalSize, info.doneSize,
                  returned ? "false" : "true");
    else
      std::printf("%s: %s (%d of %d bytes)%s\n", Display(path).c_str(), StateName(info.state), info.doneSize, info.totalSize,
                  returned ? "" : ", timed out");
    if (g_interrupted) break;
  }
  std::signal(SIGINT, previous);
  return Finish(*session, status);
}

}  // namespace udra::tool

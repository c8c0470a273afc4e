#include "log/LogFile.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/System.h"
#include "util/Paths.h"

namespace udra::logfile {
namespace {

constexpr size_t kMaxPath = 259;
constexpr size_t kOlderFilesKept = 8;
constexpr size_t kMaxMatches = 64;

struct State {
  std::mutex lock;
  platform::AppendFile file;
  bool attempted = false;
  int32_t sequence = 0;
  uint32_t processId = platform::CurrentProcessId();
};

// Made with the first logger and gone with the module (at exit, or when the
// game unloads the library), after every logger made later.
State& Shared() {
  static State state;
  return state;
}

void RemoveOldFiles(const std::string& folder, const std::string& prefix) {
  if (JoinPath(folder, prefix + "*.log").size() > kMaxPath) return;
  std::vector<platform::FoundFile> files = platform::FindFiles(folder, prefix, ".log", kMaxMatches);
  if (files.size() <= kOlderFilesKept) return;
  std::sort(files.begin(), files.end(), [](const platform::FoundFile& a, const platform::FoundFile& b) {
    return a.creationTime < b.creationTime;
  });
  for (size_t i = 0; i + kOlderFilesKept < files.size(); ++i) platform::RemoveFile(files[i].path);
}

}  // namespace

void OpenOnce(const std::string& modulePath) {
  State& state = Shared();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.attempted) return;
  state.attempted = true;

  const std::string folder = JoinPath(ParentFolder(modulePath), "Logs");
  const std::string moduleName = FileNameOf(modulePath);
  RemoveOldFiles(folder, moduleName);

  const platform::LocalTime t = platform::Now();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d_%02d%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  const std::string path = JoinPath(folder, moduleName + stamp + ".log");
  if (path.size() > kMaxPath || !platform::MakeDirectories(folder)) return;
  state.file.Create(path);
}

void Append(const char* line) {
  State& state = Shared();
  std::lock_guard<std::mutex> guard(state.lock);
  if (!state.file.IsOpen()) return;
  if (const int error = state.file.SeekToEnd()) {
    char message[96];
    std::snprintf(message, sizeof message, "Set log file pointer at end fail , error id = %d !\n", error);
    platform::DebugOutput(message);
    return;
  }
  const platform::LocalTime t = platform::Now();
  char buffer[1024];
  int n = std::snprintf(buffer, sizeof buffer, "%d\t%02d:%02d:%02d\t[P%d]%s", state.sequence, t.hour,
                        t.minute, t.second, int(state.processId), line);
  if (n < 0) return;
  if (size_t(n) >= sizeof buffer) n = int(sizeof buffer - 1);
  state.file.Write(buffer, size_t(n));
  ++state.sequence;
}

int32_t Sequence() {
  State& state = Shared();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.sequence;
}

uint32_t ProcessId() { return Shared().processId; }

void ResetForTesting() {
  State& state = Shared();
  std::lock_guard<std::mutex> guard(state.lock);
  state.file.Close();
  state.attempted = false;
  state.sequence = 0;
}

}  // namespace udra::logfile

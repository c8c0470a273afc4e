#include "log/LogFile.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/System.h"
#include "util/Paths.h"

namespace udra::logfile {
namespace {

constexpr size_t kMaxPath = 259;
constexpr size_t kOlderFilesKept = 8;
constexpr size_t kMaxMatches = 64;
// Names tried for one second: the plain one, then "-2" .. "-99". Beyond that
// many processes opening in one second the process logs to no file.
constexpr int kMaxNamesPerSecond = 99;

struct State {
  std::mutex lock;
  platform::LogAppendFile file;
  bool attempted = false;
  int32_t sequence = 0;
  uint32_t processId = platform::CurrentProcessId();
  bool fixedNameTime = false;
  platform::LocalTime nameTime{};
};

// Made with the first logger and gone with the module (at exit, or when the
// game unloads the library), after every logger made later.
State& Shared() {
  static State state;
  return state;
}

// Keeps the eight newest files of earlier runs. The log of a process that
// still runs is open, so it is neither removed nor counted among the eight:
// the clean-up of one process never takes the file another one writes.
void RemoveOldFiles(const std::string& folder, const std::string& prefix) {
  if (JoinPath(folder, prefix + "*.log").size() > kMaxPath) return;
  std::vector<platform::FoundFile> files = platform::FindFiles(folder, prefix, ".log", kMaxMatches);
  if (files.size() <= kOlderFilesKept) return;
  std::sort(files.begin(), files.end(), [](const platform::FoundFile& a, const platform::FoundFile& b) {
    // Names carry the time they were opened: they order files of one clock tick.
    return a.creationTime != b.creationTime ? a.creationTime > b.creationTime : a.path > b.path;
  });
  size_t kept = 0;
  for (const platform::FoundFile& found : files) {
    if (platform::IsFileInUse(found.path)) continue;
    if (kept < kOlderFilesKept) {
      ++kept;
      continue;
    }
    platform::RemoveUnusedFile(found.path);  // stays if its owner opened it meanwhile
  }
}

// "-<n>" before the extension for the n-th name of one second, from 2 on.
std::string NameSuffix(int n) { return n == 1 ? std::string() : "-" + std::to_string(n); }

}  // namespace

size_t FitLine(char* buffer, size_t size, int written) {
  if (written < 0 || size < 2) {
    if (size) buffer[0] = '\0';
    return 0;
  }
  if (size_t(written) < size) return size_t(written);
  size_t end = size - 2;  // where the newline goes
  // Walk the bytes as GBK from the start of the line: a lead byte (0x81-0xFE)
  // takes the next byte with it, so only a walk from the start tells whether
  // the byte before the cut begins a character.
  for (size_t i = 0; i < end;) {
    const unsigned char c = static_cast<unsigned char>(buffer[i]);
    if (c < 0x81 || c == 0xFF) {
      ++i;
    } else if (i + 1 < end) {
      i += 2;
    } else {
      end = i;  // the cut split this character: drop its lead byte too
      break;
    }
  }
  buffer[end] = '\n';
  buffer[end + 1] = '\0';
  return end + 1;
}

void OpenOnce(const std::string& modulePath) {
  State& state = Shared();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.attempted) return;
  state.attempted = true;

  const std::string folder = JoinPath(ParentFolder(modulePath), "Logs");
  const std::string moduleName = FileNameOf(modulePath);
  RemoveOldFiles(folder, moduleName);

  const platform::LocalTime t = state.fixedNameTime ? state.nameTime : platform::Now();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d_%02d%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  const std::string base = JoinPath(folder, moduleName + stamp);
  if ((base + ".log").size() > kMaxPath || !platform::MakeDirectories(folder)) return;
  // Exclusive creation: of processes opening in the same second each gets a
  // file of its own, and no earlier file is ever replaced.
  for (int n = 1; n <= kMaxNamesPerSecond; ++n) {
    const std::string path = base + NameSuffix(n) + ".log";
    if (path.size() > kMaxPath) return;
    if (state.file.CreateNew(path) != platform::CreateResult::kExists) return;
  }
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
  const int n = std::snprintf(buffer, sizeof buffer, "%d\t%02d:%02d:%02d\t[P%d]%s", state.sequence, t.hour,
                              t.minute, t.second, int(state.processId), line);
  if (n < 0) return;
  state.file.Write(buffer, FitLine(buffer, sizeof buffer, n));
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
  state.processId = platform::CurrentProcessId();
}

void SetNameTimeForTesting(const platform::LocalTime* time) {
  State& state = Shared();
  std::lock_guard<std::mutex> guard(state.lock);
  state.fixedNameTime = time != nullptr;
  if (time) state.nameTime = *time;
}

}  // namespace udra::logfile

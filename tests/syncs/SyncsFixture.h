// A Syncs with every collaborator faked: a catalogue in memory, an archive
// store given as a set of download names, a pipe that records what is sent,
// windows that record what is posted, and a log file in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "log/LogFile.h"
#include "platform/FileSystem.h"
#include "resources/Syncs.h"
#include "support/NullManager.h"
#include "support/TempDir.h"

namespace udra::test {

// Only IsFileInArchive and SetCallbackHWnd matter to Syncs.
class FakeManager final : public NullManager {
 public:
  explicit FakeManager(const FileList& files) : files_(files) {}
  std::set<std::string> present;  // download names the store holds
  UDRA_HWND callback = reinterpret_cast<UDRA_HWND>(0xdead);
  int archiveQueries = 0;

  bool IsFileInArchive(const char* path) override {
    ++archiveQueries;
    const std::string package = files_.packageName(path);
    return present.count(package.empty() ? std::string(path) : package) != 0;
  }
  void SetCallbackHWnd(UDRA_HWND hwnd) override { callback = hwnd; }


 private:
  const FileList& files_;
};

struct Posted {
  UDRA_HWND window;
  uint32_t message;
  uintptr_t wParam;
};

// Five files below Data, three of them (b, c, d) in one package, and a file
// on its own at the top.
constexpr const char kCatalogue[] =
    "Data|-1|0|00000000000000000000000000000000|00000000000000000000000000000000|srv\n"
    "Data\\a.txt|10|100|0123456789abcdef0123456789abcdef|aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa|srv/data|:\n"
    "Data\\b.txt|10|200|0123456789abcdef0123456789abcdef|bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb|srv/data|pkg.pak\n"
    "Data\\c.txt|10|200|0123456789abcdef0123456789abcdef|bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb|srv/data|pkg.pak\n"
    "Data\\d.txt|10|200|0123456789abcdef0123456789abcdef|bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb|srv/data|pkg.pak\n"
    "Data\\e.txt|10|300|0123456789abcdef0123456789abcdef|eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee|srv/data\n"
    "Single.txt|5|50|0123456789abcdef0123456789abcdef|5555555555555555555555555555555a|srv\n";

inline UDRA_HWND Wnd(uintptr_t n) { return reinterpret_cast<UDRA_HWND>(n); }

class SyncsTest : public ::testing::Test {
 protected:
  SyncsTest() {
    logfile::ResetForTesting();
    dir.Write("LogConfig.ini", "[Default]\nWriteToLogFile=ETW\n");
    log = std::make_unique<Logger>("ResourceManager", dir / "rm.dll");
    EXPECT_TRUE(files.LoadFromBuffer(kCatalogue));
    syncs = MakeSyncs();
  }
  ~SyncsTest() override {
    syncs.reset();
    logfile::ResetForTesting();
  }

  std::unique_ptr<Syncs> MakeSyncs() {
    SyncLinks links;
    links.send = [this](const PipeMsg& msg) {
      sent.push_back(msg);
      return sendResult;
    };
    links.stats = [] { return static_cast<StatsFacade*>(nullptr); };
    links.storedSize = [this](const std::string& name, int32_t& size) {
      ++storeQueries;
      auto it = stored.find(name);
      if (it == stored.end()) return false;
      size = it->second;
      return true;
    };
    links.downloadedBytes = [this](const std::string& name, int32_t& bytes, uint64_t&) {
      ++tableQueries;
      auto it = done.find(name);
      if (it == done.end()) return false;
      bytes = it->second;
      return true;
    };
    links.urlRoot = [] { return std::string("http://127.0.0.1/root"); };
    links.post = [this](platform::WindowHandle w, uint32_t m, uintptr_t wp, intptr_t) {
      posts.push_back({w, m, wp});
      return true;
    };
    links.isWindow = [this](platform::WindowHandle w) { return alive.count(w) != 0; };
    links.tick = [this] { return tick; };
    return std::make_unique<Syncs>(lock, files, useRecord, manager, *log, std::move(links));
  }

  void Complete(int32_t id, const std::string& name, bool ok, uint16_t code = 0, uint16_t kind = 0) {
    syncs->OnSyncReturn(MakeSyncReturn(id, name.c_str(), 1234, ok, code, kind, "boom"));
  }
  int32_t State(int32_t id) {
    SyncRecord record;
    EXPECT_TRUE(syncs->Find(id, record));
    return record.state;
  }
  std::vector<std::string> SentNames() const {
    std::vector<std::string> names;
    for (const PipeMsg& msg : sent) names.push_back(ReadSyncFile(msg).name);
    return names;
  }
  std::string LogText() const {
    const auto found = platform::FindFiles(dir / "Logs", "rm.dll", ".log", 4);
    std::string text;
    if (!found.empty()) platform::ReadWholeFile(found[0].path, text);
    return text;
  }
  bool Logged(const std::string& tagAndLine) const {
    return LogText().find("[ResourceManager][" + tagAndLine + "\n") != std::string::npos;
  }

  TempDir dir;
  std::unique_ptr<Logger> log;
  std::recursive_mutex lock;
  FileList files;
  UseRecord useRecord{[] { return int64_t(1700000000); }};
  FakeManager manager{files};
  std::vector<PipeMsg> sent;
  bool sendResult = true;
  std::map<std::string, int32_t> stored;  // the store's entries and their sizes
  std::map<std::string, int32_t> done;    // the host's downloading-file table
  int storeQueries = 0;
  int tableQueries = 0;
  std::vector<Posted> posts;
  std::set<UDRA_HWND> alive;
  uint32_t tick = 1000;
  std::unique_ptr<Syncs> syncs;
};

}  // namespace udra::test

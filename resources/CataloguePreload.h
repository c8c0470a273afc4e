// Loads a catalogue file on a thread of its own, so that reading, hashing and
// indexing it overlap other start-up work (the host's launch and the pipe's
// connect). The loaded catalogue is handed over only while the file is still
// the one that was read; otherwise the caller loads it again.
#pragma once

#include <memory>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Sync.h"
#include "resources/FileList.h"

namespace udra {

class CataloguePreload {
 public:
  CataloguePreload() = default;
  ~CataloguePreload() { Discard(); }
  CataloguePreload(const CataloguePreload&) = delete;
  CataloguePreload& operator=(const CataloguePreload&) = delete;

  // Starts loading `path` (a load still running is dropped first). Without a
  // thread nothing is preloaded.
  void Start(const std::string& path);
  // Waits for the load of `path` and moves it into `list`, with load's
  // result in `parsed`. False when no load of `path` was started or the file
  // was replaced or resized since: `list` is then untouched.
  bool Take(const std::string& path, FileList& list, bool& parsed);
  // Waits for a running load and drops what it read.
  void Discard();

 private:
  struct Stamp {
    bool known = false;
    platform::FileIdentity identity;
    int64_t size = -1;
    bool operator==(const Stamp& o) const { return known && o.known && identity == o.identity && size == o.size; }
  };
  static Stamp StampOf(const std::string& path);
  void Join();

  std::string path_;
  Stamp stamp_;
  std::unique_ptr<FileList> list_;
  bool parsed_ = false;
  std::unique_ptr<platform::Thread> thread_;
};

}  // namespace udra

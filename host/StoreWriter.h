// Puts verified downloads into the store on a thread of its own, so that the
// transfers go on meanwhile. Whatever is waiting when the thread comes round
// is written together: small entries (held in memory) in one PutEntries
// commit, so that they become visible all at once or not at all; large ones
// by handing their partial file over with MoveEntryFromFile (the store moves
// it into its folder rather than copying the bytes). A failed batch is retried
// entry by entry, so that one bad entry does not fail the others.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/StoreLink.h"
#include "platform/Sync.h"

namespace udra::host {

struct StoreItem {
  std::string key;   // the job's key
  std::string name;  // the entry name
  std::string data;  // the bytes, when filePath is empty
  std::string filePath;
  int64_t size = 0;
  std::string digest;  // the expected MD5, upper-case hexadecimal
};

struct StoreResult {
  static StoreResult Stored(const std::string& key) { return {key, true, 0, true, std::string()}; }
  static StoreResult Refused(const std::string& key, int32_t storeError) {
    return {key, false, storeError, true, std::string()};
  }
  static StoreResult Mismatched(const std::string& key, std::string digestFound) {
    return {key, false, 0, false, std::move(digestFound)};
  }

  std::string key;
  bool ok = false;
  int32_t storeError = 0;       // the store's error code on failure
  bool digestMatched = true;    // false: never stored, its bytes have another MD5
  std::string digestFound;      // then: their MD5, empty when they could not be read
};

class StoreWriter {
 public:
  // `done` is called on the writer's thread with the results of each round.
  using Results = std::vector<StoreResult>;
  StoreWriter(StoreLink& store, std::function<void(Results)> done);
  ~StoreWriter();
  StoreWriter(const StoreWriter&) = delete;
  StoreWriter& operator=(const StoreWriter&) = delete;

  void Start();
  void Submit(std::vector<StoreItem> items);
  // Ends the thread after it has written what was submitted.
  void Stop();
  int64_t pendingBytes() const;

 private:
  int Run();
  void WriteBatch(std::vector<StoreItem>& batch, Results& results);
  StoreResult WriteOne(const StoreItem& item);
  int32_t LastError() const;

  StoreLink& store_;
  std::function<void(Results)> done_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<StoreItem> queue_;
  int64_t pendingBytes_ = 0;
  bool stop_ = false;
  bool wroteSinceCheckpoint_ = false;  // the writer thread's own
  std::unique_ptr<platform::Thread> thread_;
};

}  // namespace udra::host

// Checks finished downloads against their expected MD5 on threads of their
// own and hands those that match on to the store writer. Hashing touches
// every byte and is the costliest step of a download; kept off the download
// thread and spread over the processors, it no longer limits the host.
// Items are checked in any order; one that does not match (or whose partial
// file cannot be read) comes back as a failed StoreResult with
// `digestMatched` false.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "host/StoreWriter.h"
#include "platform/Sync.h"

namespace udra::host {

class DigestChecker {
 public:
  // `failed` is called on a checking thread.
  DigestChecker(int threads, StoreWriter& writer, std::function<void(StoreWriter::Results)> failed);
  ~DigestChecker();
  DigestChecker(const DigestChecker&) = delete;
  DigestChecker& operator=(const DigestChecker&) = delete;

  void Start();
  // Each item's `digest` is the expected MD5 in upper-case hexadecimal.
  void Submit(std::vector<StoreItem> items) { queue_.Push(std::move(items)); }
  // Ends the threads after every item submitted was checked and handed on.
  void Stop();
  // Bytes held in memory by items not yet handed on.
  int64_t pendingBytes() const { return queue_.pendingBytes(); }

 private:
  int Run();
  // The MD5 of each item's bytes in upper-case hexadecimal; empty for one
  // whose file cannot be read.
  static std::vector<std::string> DigestsOf(const std::vector<StoreItem>& items);
  static std::string DigestOfFile(const StoreItem& item);

  const int threadCount_;
  StoreWriter& writer_;
  std::function<void(StoreWriter::Results)> failed_;
  StoreQueue queue_;
  std::vector<std::unique_ptr<platform::Thread>> threads_;
};

}  // namespace udra::host

// Puts verified downloads into the store on a thread of its own, so that the
// transfers go on meanwhile. Whatever is waiting when the thread comes round
// is written together: small entries (held in memory) in one PutEntries
// commit, so that they become visible all at once or not at all; large ones
// by handing their partial file over with MoveEntryFromFile (the store moves
// it into its folder rather than copying the bytes). A failed batch is retried
// entry by entry, so that one bad entry does not fail the others.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "host/StoreLink.h"
#include "host/StoreQueue.h"
#include "platform/Sync.h"

namespace udra::host {

class StoreWriter {
 public:
  // `done` is called on the writer's thread with the results of each round.
  using Results = std::vector<StoreResult>;
  StoreWriter(StoreLink& store, std::function<void(Results)> done);
  ~StoreWriter();
  StoreWriter(const StoreWriter&) = delete;
  StoreWriter& operator=(const StoreWriter&) = delete;

  void Start();
  void Submit(std::vector<StoreItem> items) { queue_.Push(std::move(items)); }
  // Ends the thread after it has written what was submitted.
  void Stop();
  int64_t pendingBytes() const { return queue_.pendingBytes(); }

 private:
  int Run();
  void WriteBatch(std::vector<StoreItem>& batch, Results& results);
  StoreResult WriteOne(const StoreItem& item);
  int32_t LastError() const;

  StoreLink& store_;
  std::function<void(Results)> done_;
  StoreQueue queue_;
  bool wroteSinceCheckpoint_ = false;  // the writer thread's own
  std::unique_ptr<platform::Thread> thread_;
};

}  // namespace udra::host

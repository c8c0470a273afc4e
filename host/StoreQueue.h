// Downloads on their way to the store, and the queue that hands them from
// one thread to the worker threads of the next step (DigestChecker, then
// StoreWriter).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

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

// How much one worker takes at a time: 1/`shareOf` of the items waiting
// (at least one), but at least the queue's `gather` in-memory items when
// that many come within `lingerMs` of the first, at most `maxItems`, and no
// more once `maxBytes` of memory bytes are taken.
struct RoundLimits {
  size_t shareOf = 1;
  uint32_t lingerMs = 0;
  size_t maxItems = SIZE_MAX;
  int64_t maxBytes = INT64_MAX;
};

// Any thread adds items; worker threads take them in rounds. The bytes that
// items hold in memory are counted from Push until their round is Released,
// so that the download thread can hold back while too much waits.
class StoreQueue {
 public:
  // `gather`: the in-memory items a worker would rather take together. The
  // workers are woken when items arrive in an empty queue and when that
  // many wait, not for every item in between.
  explicit StoreQueue(size_t gather = 1) : gather_(gather < 1 ? 1 : gather) {}

  void Push(std::vector<StoreItem> items);
  // Waits for items, then takes a round of them (at least one). False (and
  // nothing taken) once the queue is stopped and empty. `bytes` gets the
  // round's memory bytes.
  bool TakeRound(std::vector<StoreItem>& round, const RoundLimits& limits, int64_t& bytes);
  // A round of `bytes` memory bytes taken earlier has been dealt with.
  void Release(int64_t bytes);
  // Waits up to `timeoutMs` for an item; false when none came (or the queue
  // was stopped empty).
  bool WaitForItems(uint32_t timeoutMs);
  // Wakes every waiting worker; TakeRound still hands out what is left.
  void Stop();
  bool empty() const;
  int64_t pendingBytes() const;

 private:
  mutable std::mutex mu_;
  std::condition_variable cv_;
  const size_t gather_;
  std::deque<StoreItem> queue_;
  int64_t pendingBytes_ = 0;
  bool stop_ = false;
};

}  // namespace udra::host

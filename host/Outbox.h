// Records on their way to the game: any thread appends, the pipe thread
// takes them in order. Bounded: when no game reads for a long time the
// oldest records are dropped.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>

#include "hostlink/PipeMsg.h"
#include "platform/Sync.h"

namespace udra::host {

class Outbox {
 public:
  static constexpr size_t kMaxRecords = 65536;

  explicit Outbox(platform::Event& wake) : wake_(wake) {}

  void Push(const PipeMsg& msg) {
    bool wake;
    {
      std::lock_guard<std::mutex> lock(mu_);
      // The pipe thread drains the queue whole; it needs waking only for a
      // record that finds it empty.
      wake = queue_.empty();
      if (queue_.size() >= kMaxRecords) {
        queue_.pop_front();
        ++dropped_;
      }
      queue_.push_back(msg);
    }
    if (wake) wake_.Set();
  }
  // Takes the oldest record; false when there is none.
  bool Take(PipeMsg& out) {
    std::lock_guard<std::mutex> lock(mu_);
    if (queue_.empty()) return false;
    out = queue_.front();
    queue_.pop_front();
    return true;
  }
  size_t size() const {
    std::lock_guard<std::mutex> lock(mu_);
    return queue_.size();
  }

 private:
  platform::Event& wake_;
  mutable std::mutex mu_;
  std::deque<PipeMsg> queue_;
  size_t dropped_ = 0;
};

}  // namespace udra::host

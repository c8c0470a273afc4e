// Records on their way to the games: any thread appends, the pipe thread
// takes them in order. Every connection has a queue of its own; a record for
// a connection that has closed goes nowhere, and events go to every open
// connection.
//
// A game that reads slowly never loses an answer to a sync request. What is
// shed, beyond kMaxQueued records waiting for one connection, are the
// records a later one supersedes: the host's values (the answer to
// CMD_TICK) and its events.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>

#include "hostlink/PipeMsg.h"
#include "platform/Sync.h"

namespace udra::host {

class Outbox {
 public:
  static constexpr size_t kMaxQueued = 65536;

  explicit Outbox(platform::Event& wake) : wake_(wake) {}

  // A connection's queue exists from Open to Close; Close drops what it held.
  void Open(uint32_t connection) {
    std::lock_guard<std::mutex> lock(mu_);
    queues_[connection];
  }
  void Close(uint32_t connection) {
    std::lock_guard<std::mutex> lock(mu_);
    queues_.erase(connection);
  }

  // False when the connection is not open (the record goes nowhere) or the
  // record was shed.
  bool Push(uint32_t connection, const PipeMsg& msg) {
    bool wake = false, taken = false;
    {
      std::lock_guard<std::mutex> lock(mu_);
      auto it = queues_.find(connection);
      if (it != queues_.end()) taken = Append(it->second, msg, wake);
    }
    if (wake) wake_.Set();
    return taken;
  }
  void Broadcast(const PipeMsg& msg) {
    bool wake = false;
    {
      std::lock_guard<std::mutex> lock(mu_);
      for (auto& entry : queues_) Append(entry.second, msg, wake);
    }
    if (wake) wake_.Set();
  }

  // Takes the oldest record of a connection; false when there is none.
  bool Take(uint32_t connection, PipeMsg& out) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = queues_.find(connection);
    if (it == queues_.end() || it->second.empty()) return false;
    out = it->second.front();
    it->second.pop_front();
    return true;
  }
  size_t size(uint32_t connection) const {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = queues_.find(connection);
    return it == queues_.end() ? 0 : it->second.size();
  }
  size_t shed() const {
    std::lock_guard<std::mutex> lock(mu_);
    return shed_;
  }

 private:
  // mu_ held. The pipe thread drains a queue whole; it needs waking only for
  // a record that finds its queue empty.
  bool Append(std::deque<PipeMsg>& queue, const PipeMsg& msg, bool& wake) {
    if (queue.size() >= kMaxQueued && PipeMsgCmd(msg) != CMD_SYNC_RETURN) {
      ++shed_;
      return false;
    }
    wake = wake || queue.empty();
    queue.push_back(msg);
    return true;
  }

  platform::Event& wake_;
  mutable std::mutex mu_;
  std::map<uint32_t, std::deque<PipeMsg>> queues_;
  size_t shed_ = 0;
};

}  // namespace udra::host

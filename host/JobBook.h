// The downloads the host knows, one job per download name (ASCII case
// ignored), each with the requests (sync ids) waiting for it, and the order
// in which queued jobs start: higher priority value first, first come first
// within one priority. A job's priority is the highest of its requests'.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace udra::host {

struct Waiter {
  int32_t syncId = 0;
  std::string name;  // the download name as this request gave it
  std::string url;
  int32_t priority = 0;
  int32_t userParam = 0;
  uint32_t connection = 0;  // the game connection that asked; sync ids are per game
};

enum class JobState { Queued, Backoff, Active, Storing };

struct Job {
  std::string key;  // lower-cased name
  std::string name;
  std::string url;
  int32_t packedSize = 0;
  std::string digest;  // upper-case hexadecimal
  std::vector<Waiter> waiters;
  int32_t priority = 0;
  uint64_t seq = 0;
  JobState state = JobState::Queued;
  int attempts = 0;        // transfers started so far
  bool restartedOnce = false;  // a resumed partial file was thrown away once
  uint32_t tableOffset = 0xFFFFFFFFu;
};

class JobBook {
 public:
  // Adds a request. A request for a name that already has a job joins it
  // (one transfer, one answer per request); the same sync id of the same
  // connection twice is kept once. Returns the job and whether it was created.
  Job* Add(const Waiter& waiter, int32_t packedSize, const std::string& digest, bool* created);

  Job* Find(const std::string& name);
  // Removes the request of `syncId` of `connection` for `url` from every
  // job; the jobs left with no request are returned (the caller stops and
  // erases them). Other connections' requests are not touched.
  std::vector<std::string> Cancel(const std::string& url, int32_t syncId, uint32_t connection = 0);
  // Gives every request of `connection` for `url` the priority; returns how
  // many changed.
  int SetPriority(const std::string& url, int32_t priority, uint32_t connection = 0);
  // Removes every request of a connection that has gone; returns the jobs
  // left with no request.
  std::vector<std::string> RemoveConnection(uint32_t connection);

  // The next queued job in start order, or null.
  Job* NextQueued();
  void MarkActive(Job& job);
  void MarkBackoff(Job& job);
  void MarkStoring(Job& job) { job.state = JobState::Storing; }
  // Back into the queue at its old place (its sequence number is kept).
  void Requeue(Job& job);
  void Erase(const std::string& key);

  std::vector<std::string> Keys() const;
  size_t size() const { return jobs_.size(); }
  size_t queuedCount() const { return order_.size(); }

 private:
  using OrderKey = std::tuple<int64_t, uint64_t, std::string>;  // -priority, seq, key
  static OrderKey KeyOf(const Job& job) { return {-static_cast<int64_t>(job.priority), job.seq, job.key}; }
  void Reprioritise(Job& job);
  template <typename Match>
  std::vector<std::string> RemoveWaiters(Match match);

  std::map<std::string, Job> jobs_;
  std::set<OrderKey> order_;  // queued jobs only
  uint64_t nextSeq_ = 0;
};

}  // namespace udra::host

#include "host/JobBook.h"

#include <algorithm>

#include "host/DownloadTable.h"

namespace udra::host {

Job* JobBook::Add(const Waiter& waiter, int32_t packedSize, const std::string& digest, bool* created) {
  const std::string key = LowerAscii(waiter.name);
  auto it = jobs_.find(key);
  if (it == jobs_.end()) {
    Job job;
    job.key = key;
    job.name = waiter.name;
    job.url = waiter.url;
    job.packedSize = packedSize;
    job.digest = digest;
    job.priority = waiter.priority;
    job.seq = nextSeq_++;
    job.waiters.push_back(waiter);
    it = jobs_.emplace(key, std::move(job)).first;
    order_.insert(KeyOf(it->second));
    if (created) *created = true;
    return &it->second;
  }
  if (created) *created = false;
  Job& job = it->second;
  const bool known = std::any_of(job.waiters.begin(), job.waiters.end(),
                                 [&](const Waiter& w) { return w.syncId == waiter.syncId && w.connection == waiter.connection; });
  if (!known) {
    job.waiters.push_back(waiter);
    Reprioritise(job);
  }
  return &job;
}

Job* JobBook::Find(const std::string& name) {
  auto it = jobs_.find(LowerAscii(name));
  return it == jobs_.end() ? nullptr : &it->second;
}

template <typename Match>
std::vector<std::string> JobBook::RemoveWaiters(Match match) {
  std::vector<std::string> orphans;
  for (auto& [key, job] : jobs_) {
    auto& ws = job.waiters;
    const size_t before = ws.size();
    ws.erase(std::remove_if(ws.begin(), ws.end(), match), ws.end());
    if (ws.size() == before) continue;
    if (ws.empty())
      orphans.push_back(key);
    else
      Reprioritise(job);
  }
  return orphans;
}

std::vector<std::string> JobBook::Cancel(const std::string& url, int32_t syncId, uint32_t connection) {
  return RemoveWaiters(
      [&](const Waiter& w) { return w.syncId == syncId && w.connection == connection && w.url == url; });
}

std::vector<std::string> JobBook::RemoveConnection(uint32_t connection) {
  return RemoveWaiters([&](const Waiter& w) { return w.connection == connection; });
}

int JobBook::SetPriority(const std::string& url, int32_t priority, uint32_t connection) {
  int changed = 0;
  for (auto& [key, job] : jobs_) {
    bool touched = false;
    for (Waiter& w : job.waiters) {
      if (w.connection == connection && w.url == url && w.priority != priority) {
        w.priority = priority;
        touched = true;
        ++changed;
      }
    }
    if (touched) Reprioritise(job);
  }
  return changed;
}

void JobBook::Reprioritise(Job& job) {
  int32_t top = job.waiters.empty() ? job.priority : job.waiters.front().priority;
  for (const Waiter& w : job.waiters) top = std::max(top, w.priority);
  if (top == job.priority) return;
  const bool queued = order_.erase(KeyOf(job)) > 0;
  job.priority = top;
  if (queued) order_.insert(KeyOf(job));
}

Job* JobBook::NextQueued() {
  if (order_.empty()) return nullptr;
  auto it = jobs_.find(std::get<2>(*order_.begin()));
  return it == jobs_.end() ? nullptr : &it->second;
}

void JobBook::MarkActive(Job& job) {
  order_.erase(KeyOf(job));
  job.state = JobState::Active;
}

void JobBook::MarkBackoff(Job& job) {
  order_.erase(KeyOf(job));
  job.state = JobState::Backoff;
}

void JobBook::Requeue(Job& job) {
  job.state = JobState::Queued;
  order_.insert(KeyOf(job));
}

std::vector<std::string> JobBook::Keys() const {
  std::vector<std::string> keys;
  keys.reserve(jobs_.size());
  for (const auto& entry : jobs_) keys.push_back(entry.first);
  return keys;
}

void JobBook::Erase(const std::string& key) {
  auto it = jobs_.find(key);
  if (it == jobs_.end()) return;
  order_.erase(KeyOf(it->second));
  jobs_.erase(it);
}

}  // namespace udra::host

#include "SourceReader.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "PreviousVersion.h"
#include "host/Md5Stream.h"

namespace fs = std::filesystem;

namespace udra::publish {
namespace {

// At most this many hashing threads: beyond it the disk, not the CPU, sets
// the pace, and the publish loop itself needs a core.
constexpr unsigned kMaxThreads = 4;
constexpr size_t kChunk = 1 << 16;

}  // namespace

bool ReadSourceFile(const fs::path& path, uint64_t sizeHint, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  // One byte more than expected, so that a file of the expected size is
  // read to its end in one call.
  out.resize(size_t(sizeHint) + 1);
  size_t filled = 0;
  for (;;) {
    in.read(reinterpret_cast<char*>(out.data() + filled), std::streamsize(out.size() - filled));
    filled += size_t(in.gcount());
    if (!in) break;
    out.resize(out.size() + kChunk);
  }
  out.resize(filled);
  return !in.bad();
}

DigestAhead::DigestAhead(std::vector<HashJob> jobs, uint64_t maxSize, OutputTree& tree)
    : jobs_(std::move(jobs)),
      maxSize_(maxSize),
      tree_(tree),
      results_(jobs_.size()),
      states_(jobs_.size(), kPending) {
  const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
  try {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {
    // Fewer threads, or none: then Get does each job itself.
  }
}

DigestAhead::~DigestAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  for (std::thread& t : threads_) t.join();
}

// Streams each file through MD5, so a thread holds one chunk, not a file.
void DigestAhead::Work() {
  std::vector<char> buffer(kChunk);
  std::ifstream in;
  for (;;) {
    size_t index;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_ || next_ >= jobs_.size()) return;
      index = next_++;
    }
    Process(index, buffer, in);
    bool wake;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      states_[index] = kDone;
      wake = waitingFor_ == index;
    }
    // Only the job the publish loop waits for wakes it.
    if (wake) done_.notify_one();
  }
}

void DigestAhead::Process(size_t index, std::vector<char>& buffer, std::ifstream& in) {
  const HashJob& job = jobs_[index];
  HashResult& result = results_[index];
  try {
    // Unreadable files are left to the publish loop, which reports them.
    result.hashed = Hash(job, buffer, in, result);
    const PreviousDownload* old = job.previous;
    if (result.hashed && old != nullptr && old->size == int64_t(result.size) &&
        old->digest == result.digest) {
      result.reuse = ReusePrevious(tree_, *old, job.to, result.error);
    }
  } catch (const std::exception& e) {
    result.hashed = false;
    result.reuse = ReuseOutcome::kFailed;
    result.error = e.what();
  }
}

bool DigestAhead::Hash(const HashJob& job, std::vector<char>& buffer, std::ifstream& in,
                       HashResult& result) const {
  if (job.path.empty() || job.size > maxSize_) return false;
  in.clear();
  in.open(job.path, std::ios::binary);
  if (!in) return false;
  thread_local host::Md5Stream md5;
  md5.Reset();
  uint64_t size = 0;
  while (size <= maxSize_) {
    in.read(buffer.data(), std::streamsize(buffer.size()));
    md5.Update(buffer.data(), size_t(in.gcount()));
    size += uint64_t(in.gcount());
    if (!in) break;
  }
  const bool bad = in.bad();
  in.close();
  if (bad || size > maxSize_) return false;
  result.digest = md5.FinalHex();
  result.size = size;
  return !result.digest.empty();
}

const HashResult& DigestAhead::Get(size_t index) {
  if (threads_.empty()) {
    if (states_[index] == kPending) {
      std::vector<char> buffer(kChunk);
      std::ifstream in;
      Process(index, buffer, in);
      states_[index] = kDone;
    }
    return results_[index];
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (states_[index] == kPending) {
    waitingFor_ = index;
    done_.wait(lock, [&] { return states_[index] != kPending; });
    waitingFor_ = kNobody;
  }
  return results_[index];
}

}  // namespace udra::publish

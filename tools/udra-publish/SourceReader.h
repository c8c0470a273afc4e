// Reading the source files, and hashing them ahead of the publish loop on
// other threads: a new version is mostly unchanged files whose digest is all
// that is needed to reuse their previous stored form, so the same threads
// also put those stored forms in place.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "OutputTree.h"

namespace udra::publish {

struct PreviousDownload;

// The whole file; `sizeHint` (the size seen when scanning) sizes the first
// read. False when it cannot be opened or read.
bool ReadSourceFile(const std::filesystem::path& path, uint64_t sizeHint,
                    std::vector<uint8_t>& out);

struct HashJob {
  std::filesystem::path path;  // empty: skipped
  uint64_t size = 0;           // seen when scanning
  // When set, and the file has the previous version's size and digest, the
  // previous stored form is put at `to` (below OUT, slash separators).
  const PreviousDownload* previous = nullptr;
  std::string to;
};

struct HashResult {
  bool hashed = false;  // false: skipped, too large or unreadable
  uint64_t size = 0;
  std::string digest;   // 32 upper-case hexadecimal digits
  ReuseOutcome reuse = ReuseOutcome::kNotTried;
  std::string error;    // with kFailed
};

class DigestAhead {
 public:
  // Hashes the files in order. Files larger than `maxSize` are not read (the
  // caller reports them).
  DigestAhead(std::vector<HashJob> jobs, uint64_t maxSize, OutputTree& tree);
  ~DigestAhead();
  DigestAhead(const DigestAhead&) = delete;
  DigestAhead& operator=(const DigestAhead&) = delete;

  // Waits for job `index`. The result stays valid while this object lives.
  const HashResult& Get(size_t index);

 private:
  enum State : uint8_t { kPending, kDone };
  void Work();
  void Process(size_t index, std::vector<char>& buffer, std::ifstream& in);
  // False when the file cannot be read in full or is too large.
  bool Hash(const HashJob& job, std::vector<char>& buffer, std::ifstream& in,
            HashResult& result) const;

  std::vector<HashJob> jobs_;
  uint64_t maxSize_;
  OutputTree& tree_;
  std::vector<HashResult> results_;
  std::vector<State> states_;
  static constexpr size_t kNobody = size_t(-1);
  size_t next_ = 0;
  size_t waitingFor_ = kNobody;  // the job Get waits for
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable done_;
  std::vector<std::thread> threads_;
};

}  // namespace udra::publish

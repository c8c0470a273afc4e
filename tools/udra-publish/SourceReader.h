// Reading the source files, and hashing them ahead of the publish loop on
// other threads: a new version is mostly unchanged files whose digest is all
// that is needed to reuse their previous stored form.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace udra::publish {

// The whole file; `sizeHint` (the size seen when scanning) sizes the first
// read. False when it cannot be opened or read.
bool ReadSourceFile(const std::filesystem::path& path, uint64_t sizeHint,
                    std::vector<uint8_t>& out);

class DigestAhead {
 public:
  // Hashes the files in order; an empty path is skipped. Files larger than
  // `maxSize` are not read (the caller reports them).
  DigestAhead(std::vector<std::filesystem::path> paths, std::vector<uint64_t> sizes,
              uint64_t maxSize);
  ~DigestAhead();
  DigestAhead(const DigestAhead&) = delete;
  DigestAhead& operator=(const DigestAhead&) = delete;

  // Waits for file `index`; false when it was skipped or could not be read.
  bool Get(size_t index, uint64_t& size, std::string& digest);

 private:
  enum State : uint8_t { kPending, kDone, kFailed };
  void Work();
  // False when the file cannot be read in full or is too large.
  bool Hash(size_t index, std::vector<char>& buffer, uint64_t& size, std::string& digest) const;

  std::vector<std::filesystem::path> paths_;
  std::vector<uint64_t> sizes_;
  uint64_t maxSize_;
  std::vector<std::string> digests_;
  std::vector<uint64_t> readSizes_;
  std::vector<State> states_;
  size_t next_ = 0;
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable done_;
  std::vector<std::thread> threads_;
};

}  // namespace udra::publish

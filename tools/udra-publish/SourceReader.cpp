#include "SourceReader.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "util/Md5.h"

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

DigestAhead::DigestAhead(std::vector<fs::path> paths, std::vector<uint64_t> sizes,
                         uint64_t maxSize)
    : paths_(std::move(paths)),
      sizes_(std::move(sizes)),
      maxSize_(maxSize),
      digests_(paths_.size()),
      readSizes_(paths_.size()),
      states_(paths_.size(), kPending) {
  const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
  try {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {
    // Fewer threads, or none: then Get hashes each file itself.
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
  for (;;) {
    size_t index;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_ || next_ >= paths_.size()) return;
      index = next_++;
    }
    uint64_t size = 0;
    std::string digest;
    // Unreadable files are left to the publish loop, which reports them.
    const State state = Hash(index, buffer, size, digest) ? kDone : kFailed;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      digests_[index] = std::move(digest);
      readSizes_[index] = size;
      states_[index] = state;
    }
    done_.notify_all();
  }
}

bool DigestAhead::Hash(size_t index, std::vector<char>& buffer, uint64_t& size,
                       std::string& digest) const {
  if (paths_[index].empty() || sizes_[index] > maxSize_) return false;
  std::ifstream in(paths_[index], std::ios::binary);
  if (!in) return false;
  Md5 md5;
  while (size <= maxSize_) {
    in.read(buffer.data(), std::streamsize(buffer.size()));
    md5.Update(buffer.data(), size_t(in.gcount()));
    size += uint64_t(in.gcount());
    if (!in) break;
  }
  if (in.bad() || size > maxSize_) return false;
  uint8_t raw[16];
  md5.Final(raw);
  digest = Md5::ToHex(raw);
  return true;
}

bool DigestAhead::Get(size_t index, uint64_t& size, std::string& digest) {
  if (threads_.empty()) {
    std::vector<char> buffer(kChunk);
    size = 0;
    return Hash(index, buffer, size, digest);
  }
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return states_[index] != kPending; });
  size = readSizes_[index];
  digest = digests_[index];
  return states_[index] == kDone;
}

}  // namespace udra::publish

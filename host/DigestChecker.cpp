#include "host/DigestChecker.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "host/Md5Batch.h"
#include "host/Md5Stream.h"
#include "util/Md5.h"

namespace udra::host {
namespace {

constexpr size_t kReadChunk = 1 << 20;
constexpr size_t kMaxRound = 256;
// Small downloads are hashed eight at a time (Md5Digests); a thread waits up
// to a millisecond for that many to come.
constexpr size_t kMd5Lanes = 8;
constexpr uint32_t kLingerMs = 1;

}  // namespace

DigestChecker::DigestChecker(int threads, StoreWriter& writer, std::function<void(StoreWriter::Results)> failed)
    : threadCount_(threads < 1 ? 1 : threads), writer_(writer), failed_(std::move(failed)), queue_(kMd5Lanes) {}

DigestChecker::~DigestChecker() { Stop(); }

void DigestChecker::Start() {
  for (int i = 0; i < threadCount_; ++i) {
    if (auto thread = platform::Thread::Start([this] { return Run(); })) threads_.push_back(std::move(thread));
  }
}

void DigestChecker::Stop() {
  queue_.Stop();
  for (auto& thread : threads_) thread->Wait(platform::kInfinite);
  threads_.clear();
  Run();  // checks here what no thread took (when none could be started)
}

int DigestChecker::Run() {
  // A round takes a share of what waits (at least a set of lanes' worth when
  // that many come soon), so that the threads split a burst of small files
  // and each hands its matching ones on at once.
  std::vector<StoreItem> round;
  int64_t bytes = 0;
  const RoundLimits limits{static_cast<size_t>(threadCount_), kLingerMs, kMaxRound, INT64_MAX};
  while (queue_.TakeRound(round, limits, bytes)) {
    std::vector<StoreItem> matched;
    StoreWriter::Results mismatched;
    const std::vector<std::string> found = DigestsOf(round);
    for (size_t i = 0; i < round.size(); ++i) {
      StoreItem& item = round[i];
      if (found[i] == item.digest)
        matched.push_back(std::move(item));
      else
        mismatched.push_back(StoreResult::Mismatched(item.key, found[i]));
    }
    writer_.Submit(std::move(matched));
    if (!mismatched.empty()) failed_(std::move(mismatched));
    queue_.Release(bytes);
  }
  return 0;
}

// Bytes in memory (small downloads) are hashed together, side by side;
// partial files one after the other as they are read.
std::vector<std::string> DigestChecker::DigestsOf(const std::vector<StoreItem>& items) {
  std::vector<std::string> found(items.size());
  std::vector<Md5Input> inputs;
  std::vector<size_t> inMemory;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].filePath.empty()) {
      inputs.push_back({items[i].data.data(), items[i].data.size()});
      inMemory.push_back(i);
    } else {
      found[i] = DigestOfFile(items[i]);
    }
  }
  std::vector<uint8_t[16]> digests(inputs.size());
  Md5Digests(inputs.data(), inputs.size(), digests.data());
  for (size_t k = 0; k < inMemory.size(); ++k) found[inMemory[k]] = Md5::ToHex(digests[k]);
  return found;
}

std::string DigestChecker::DigestOfFile(const StoreItem& item) {
  Md5Stream md5;
  FILE* file = fopen(item.filePath.c_str(), "rb");
  if (file == nullptr) return std::string();
  std::vector<char> buffer(kReadChunk);
  int64_t total = 0;
  size_t got;
  while ((got = fread(buffer.data(), 1, buffer.size(), file)) > 0) {
    md5.Update(buffer.data(), got);
    total += static_cast<int64_t>(got);
  }
  const bool ok = !ferror(file) && total == item.size;
  fclose(file);
  return ok ? md5.FinalHex() : std::string();
}

}  // namespace udra::host

#include "host/DigestChecker.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "host/Md5Stream.h"

namespace udra::host {
namespace {

constexpr size_t kReadChunk = 1 << 20;
constexpr size_t kMaxRound = 256;

}  // namespace

DigestChecker::DigestChecker(int threads, StoreWriter& writer, std::function<void(StoreWriter::Results)> failed)
    : threadCount_(threads < 1 ? 1 : threads), writer_(writer), failed_(std::move(failed)) {}

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
  // A round takes a share of what waits, so that the threads split a burst
  // of small files and each hands its matching ones on at once.
  std::vector<StoreItem> round;
  int64_t bytes = 0;
  while (queue_.TakeRound(round, static_cast<size_t>(threadCount_), kMaxRound, INT64_MAX, bytes)) {
    std::vector<StoreItem> matched;
    StoreWriter::Results mismatched;
    for (StoreItem& item : round) {
      std::string found = DigestOf(item);
      if (found == item.digest)
        matched.push_back(std::move(item));
      else
        mismatched.push_back(StoreResult::Mismatched(item.key, std::move(found)));
    }
    writer_.Submit(std::move(matched));
    if (!mismatched.empty()) failed_(std::move(mismatched));
    queue_.Release(bytes);
  }
  return 0;
}

std::string DigestChecker::DigestOf(const StoreItem& item) {
  Md5Stream md5;
  if (item.filePath.empty()) {
    md5.Update(item.data.data(), item.data.size());
    return md5.FinalHex();
  }
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

#include "platform/SharedMemory.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <unordered_map>

#include "platform/posix/RuntimeFolder.h"

namespace udra::platform {
namespace {

// Memory of another user is never used: it could be read or forged by them.
bool OwnedByUs(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && st.st_uid == geteuid();
}

class PosixSharedMemory : public SharedMemory {
 public:
  PosixSharedMemory(int fd, bool writable, std::string removeName)
      : fd_(fd), writable_(writable), removeName_(std::move(removeName)) {}

  ~PosixSharedMemory() override {
    for (auto& view : views_) munmap(view.first, view.second);
    close(fd_);
    if (!removeName_.empty()) shm_unlink(removeName_.c_str());
  }

  void* MapView(uint64_t offset, size_t length) override {
    if (offset % kViewAlignment) return nullptr;
    const uint64_t total = size();
    if (offset >= total) return nullptr;
    if (length == 0) length = static_cast<size_t>(total - offset);
    if (length > total - offset) return nullptr;  // past the end would fault on access
    const int protection = PROT_READ | (writable_ ? PROT_WRITE : 0);
    void* view = mmap(nullptr, length, protection, MAP_SHARED, fd_, static_cast<off_t>(offset));
    if (view == MAP_FAILED) return nullptr;
    std::lock_guard<std::mutex> lock(mu_);
    views_[view] = length;
    return view;
  }

  bool UnmapView(void* view) override {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = views_.find(view);
    if (it == views_.end()) return false;
    const bool ok = munmap(it->first, it->second) == 0;
    views_.erase(it);
    return ok;
  }

  uint64_t size() const override {
    struct stat st {};
    return fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  }

 private:
  int fd_;
  bool writable_;
  std::string removeName_;
  std::mutex mu_;
  std::unordered_map<void*, size_t> views_;
};

std::string ShmName(const std::string& name) {
  const std::string plain = posix::PlainObjectName(name);
  return plain.empty() ? plain : "/" + plain;
}

}  // namespace

std::unique_ptr<SharedMemory> SharedMemory::Create(const std::string& name, uint64_t size) {
  const std::string shmName = ShmName(name);
  if (shmName.empty() || size == 0) return nullptr;
  const int fd = shm_open(shmName.c_str(), O_RDWR | O_CREAT, 0600);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (!OwnedByUs(fd) || fstat(fd, &st) != 0 ||
      (static_cast<uint64_t>(st.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<PosixSharedMemory>(fd, true, shmName);
}

std::unique_ptr<SharedMemory> SharedMemory::Open(const std::string& name, bool writable) {
  const std::string shmName = ShmName(name);
  if (shmName.empty()) return nullptr;
  const int fd = shm_open(shmName.c_str(), writable ? O_RDWR : O_RDONLY, 0);
  if (fd < 0) return nullptr;
  if (!OwnedByUs(fd)) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<PosixSharedMemory>(fd, writable, std::string());
}

}  // namespace udra::platform

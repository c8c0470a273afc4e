#include "platform/SharedMemory.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <unordered_map>

#include "platform/posix/RuntimeFolder.h"

namespace udra::platform {
namespace {

// Every handle holds a shared lock on the file; the last one to go (the one
// that gets the exclusive lock) removes the name. Like a Win32 mapping, the
// memory lives while anyone holds it: a host that ends leaves it to the
// library and to the next host.
class PosixSharedMemory : public SharedMemory {
 public:
  PosixSharedMemory(int fd, bool writable, std::string path)
      : fd_(fd), writable_(writable), path_(std::move(path)) {}

  ~PosixSharedMemory() override {
    for (auto& view : views_) munmap(view.first, view.second);
    // Removed while held exclusively: an opener that found the old file
    // notices, once it has its own lock, that the name has gone.
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) unlink(path_.c_str());
    close(fd_);
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
  std::string path_;
  std::mutex mu_;
  std::unordered_map<void*, size_t> views_;
};

std::string MemoryPath(const std::string& name) {
  const std::string plain = posix::PlainObjectName(name);
  return plain.empty() ? plain : posix::RuntimePath(plain, ".shm");
}

int Fail(int* error, int code) {
  if (error) *error = code;
  return -1;
}

// Opens (with `create`: creates exclusively, or opens) the memory file and
// takes a holder's lock on it. The file must be a plain file of this user
// that nobody else may open: anything else is refused (EACCES), never used,
// since whoever made it could read or forge it.
int OpenHeld(const std::string& path, bool writable, bool create, int* error) {
  const int access = (writable ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC;
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = create ? open(path.c_str(), access | O_CREAT | O_EXCL, 0600) : -1;
    if (fd < 0 && (!create || errno == EEXIST)) {
      fd = open(path.c_str(), access);
      if (fd < 0 && errno == ENOENT && create) continue;  // the last holder just removed it
    }
    if (fd < 0) return Fail(error, errno);
    struct stat held {};
    if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode) || held.st_uid != geteuid() || (held.st_mode & 077) != 0) {
      close(fd);
      return Fail(error, EACCES);
    }
    if (flock(fd, LOCK_SH) != 0) {
      const int e = errno;
      close(fd);
      return Fail(error, e);
    }
    // Still the file of that name? Its last holder may have removed it
    // between our open and our lock.
    struct stat named {};
    if (stat(path.c_str(), &named) == 0 && named.st_ino == held.st_ino && named.st_dev == held.st_dev) return fd;
    close(fd);
  }
  return Fail(error, EAGAIN);
}

}  // namespace

std::unique_ptr<SharedMemory> SharedMemory::Create(const std::string& name, uint64_t size, int* error) {
  const std::string path = MemoryPath(name);
  if (path.empty() || size == 0) {
    if (error) *error = EINVAL;
    return nullptr;
  }
  const int fd = OpenHeld(path, true, true, error);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 ||
      (static_cast<uint64_t>(st.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
    if (error) *error = errno;
    close(fd);
    return nullptr;
  }
  return std::make_unique<PosixSharedMemory>(fd, true, path);
}

std::unique_ptr<SharedMemory> SharedMemory::Open(const std::string& name, bool writable) {
  const std::string path = MemoryPath(name);
  if (path.empty()) return nullptr;
  const int fd = OpenHeld(path, writable, false, nullptr);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixSharedMemory>(fd, writable, path);
}

}  // namespace udra::platform

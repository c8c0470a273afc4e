#include "components/store/PosixFile.h"

#include <errno.h>
#include <unistd.h>

namespace udra::store {

FileDescriptor::~FileDescriptor() { Reset(-1); }

void FileDescriptor::Reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

bool ReadFully(int fd, void* buffer, size_t size) {
  char* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = 0;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReadFullyAt(int fd, void* buffer, size_t size, off_t offset) {
  char* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd, out + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = 0;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WriteFully(int fd, const void* data, size_t size) {
  const char* in = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, in + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace udra::store

#include "platform/RandomAccessFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/posix/FileErrors.h"

namespace udra::platform {

namespace {

constexpr size_t kCopyChunk = 1 << 20;

int Fd(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

RandomAccessFile::~RandomAccessFile() { Close(); }

FileError RandomAccessFile::Open(const std::string& path, Mode mode) {
  Close();
  const int fd = mode == Mode::kRead ? open(path.c_str(), O_RDONLY | O_CLOEXEC)
                                     : open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return FileErrorOf(errno);
  handle_ = fd;
  return FileError::kNone;
}

void RandomAccessFile::Close() {
  if (handle_ != kClosed) close(Fd(handle_));
  handle_ = kClosed;
}

bool RandomAccessFile::Describe(bool& regular, uint64_t& size) const {
  struct stat st;
  if (handle_ == kClosed || fstat(Fd(handle_), &st) != 0 || st.st_size < 0) return false;
  regular = S_ISREG(st.st_mode);
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

FileError RandomAccessFile::ReadAt(void* buffer, size_t size, uint64_t offset) const {
  char* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(Fd(handle_), out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FileErrorOf(errno);
    if (n == 0) return FileError::kEnd;
    done += static_cast<size_t>(n);
  }
  return FileError::kNone;
}

FileError RandomAccessFile::Write(const void* data, size_t size) {
  const char* in = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(Fd(handle_), in + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? FileErrorOf(errno) : FileError::kOther;
    done += static_cast<size_t>(n);
  }
  return FileError::kNone;
}

FileError RandomAccessFile::AppendFrom(const RandomAccessFile& source, uint64_t size) {
  // The kernel copies (or shares the blocks) where both files allow it.
  loff_t in = 0;
  uint64_t done = 0;
  while (done < size) {
    const ssize_t n = copy_file_range(Fd(source.handle_), &in, Fd(handle_), nullptr, size - done, 0);
    if (n > 0) {
      done += static_cast<uint64_t>(n);
      continue;
    }
    if (n == 0) return FileError::kEnd;  // the source is shorter than it was
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return FileErrorOf(errno);
    break;  // no kernel copy between these files: go on through a buffer
  }
  std::vector<char> buffer(size - done < kCopyChunk ? size - done : kCopyChunk);
  while (done < size) {
    const size_t n = size - done < buffer.size() ? static_cast<size_t>(size - done) : buffer.size();
    FileError error = source.ReadAt(buffer.data(), n, done);
    if (error == FileError::kNone) error = Write(buffer.data(), n);
    if (error != FileError::kNone) return error;
    done += n;
  }
  return FileError::kNone;
}

FileError RandomAccessFile::Sync() { return fdatasync(Fd(handle_)) == 0 ? FileError::kNone : FileErrorOf(errno); }

}  // namespace udra::platform

// An open file read at any offset and written from its start: the large
// entries of the archive store and the files it takes entries from.
//
// Every transfer goes on after short and interrupted system calls, so a call
// either moves all its bytes or reports why it could not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/FileSystem.h"

namespace udra::platform {

class RandomAccessFile {
 public:
  enum class Mode {
    // Reading an existing file. Other handles may still rename or remove it
    // (Windows: shared for reading, writing and deletion), as on POSIX.
    kRead,
    // Writing a file that must not exist yet (kExists when it does), for the
    // user only (POSIX: 0600 whatever the umask allows beyond it; Windows:
    // the folder's inherited access rules).
    kCreateNew,
  };

  RandomAccessFile() = default;
  ~RandomAccessFile();
  RandomAccessFile(const RandomAccessFile&) = delete;
  RandomAccessFile& operator=(const RandomAccessFile&) = delete;

  // Closes what is open and opens `path`.
  FileError Open(const std::string& path, Mode mode);
  bool IsOpen() const { return handle_ != kClosed; }
  void Close();

  // Whether the open file is a regular (disk) file, and its size.
  bool Describe(bool& regular, uint64_t& size) const;

  // Reads `size` bytes from `offset`; kEnd when the file ends before.
  FileError ReadAt(void* buffer, size_t size, uint64_t offset) const;
  // Writes at the end of what this handle wrote so far.
  FileError Write(const void* data, size_t size);
  // Appends the first `size` bytes of `source` (by the kernel where it can).
  // kEnd when `source` is shorter.
  FileError AppendFrom(const RandomAccessFile& source, uint64_t size);
  // Puts the bytes written on disk (fdatasync; FlushFileBuffers).
  FileError Sync();

 private:
  static constexpr intptr_t kClosed = -1;
  intptr_t handle_ = kClosed;
};

}  // namespace udra::platform

// Small POSIX file helpers of the store (a companion that exists only on
// POSIX systems): an owned descriptor and whole-buffer reads and writes that
// go on after short transfers and interrupted calls.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace udra::store {

// What the store creates is for the installation's user only: folders 0700,
// files 0600 (a umask can only narrow these). SQLite gives a database's log
// and index files the database file's own mode.
constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes the descriptor held and takes `fd` instead.
  void Reset(int fd);

 private:
  int fd_;
};

// Each returns false when the file ends or fails first (errno tells which
// failure; 0 at a premature end).
bool ReadFully(int fd, void* buffer, size_t size);
bool ReadFullyAt(int fd, void* buffer, size_t size, off_t offset);
bool WriteFully(int fd, const void* data, size_t size);

}  // namespace udra::store

// A file written only at its end and kept for its user alone: the host's
// resumable partial downloads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace udra::platform {

class AppendFile {
 public:
  // Opens `path` for appending, creating it when missing. The file is the
  // user's only (POSIX: mode 0600, a file found with wider modes is
  // narrowed; Win32: the folder's inherited access rules). Null when it
  // cannot be opened or is not a regular file.
  static std::unique_ptr<AppendFile> Open(const std::string& path);

  virtual ~AppendFile() = default;  // closes, without reporting a lost write: call Flush first

  // The file's size when it was opened, plus what was written since.
  virtual int64_t size() const = 0;
  // Empties the file.
  virtual bool Truncate() = 0;
  // Appends the bytes (they may wait in a buffer until Flush).
  virtual bool Write(const void* data, size_t size) = 0;
  // Hands every byte written to the system.
  virtual bool Flush() = 0;
  // Starts putting the flushed bytes in [from, from + length) on the disk
  // without waiting for it, so that a later full flush is short. Nothing
  // where the system offers no such call.
  virtual void StartWriteback(int64_t from, int64_t length) = 0;
};

// Creates `folder` for its user only when missing (POSIX: mode 0700; a
// folder of this user found with wider modes is narrowed). False when it
// neither exists nor could be made.
bool MakePrivateFolder(const std::string& folder);

}  // namespace udra::platform

// Files and folders as the library needs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace udra::platform {

// The separator of paths on disk ('\\' on Windows, '/' elsewhere).
char PathSeparator();
// True for the characters that separate path components on this platform.
bool IsPathSeparator(char c);

bool FileExists(const std::string& path);  // a file or a folder
bool IsDirectory(const std::string& path);
// True for a regular file: not a folder, FIFO, socket or device. Never blocks.
bool IsRegularFile(const std::string& path);

// Creates every missing folder of `path` from the outermost inwards. A path
// holding any of < > " | * ? is refused and nothing is created.
bool MakeDirectories(const std::string& path);

struct FoundFile {
  std::string path;       // full path of the match
  int64_t creationTime;   // larger is later; comparable between files of one platform
};
// Files (not folders) in `folder` whose names start with `prefix` and end with
// `suffix`, at most `maxCount` of them, in no particular order.
std::vector<FoundFile> FindFiles(const std::string& folder, const std::string& prefix,
                                 const std::string& suffix, size_t maxCount);

bool RemoveFile(const std::string& path);

// True while some process holds `path` open as an AppendFile (on POSIX by the
// advisory lock the AppendFile takes; on Windows by any handle that keeps the
// file from being deleted). A file whose state cannot be checked counts as in
// use.
bool IsFileInUse(const std::string& path);
// Removes `path` unless it is in use; on POSIX the check and the removal
// happen under one lock. False when the file stays.
bool RemoveUnusedFile(const std::string& path);

// Reads a whole regular file; false when it cannot be opened or read, or is
// no regular file (a FIFO is refused without waiting for a writer).
bool ReadWholeFile(const std::string& path, std::string& out);
// Creates or replaces a file with `size` bytes.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);

enum class CreateResult { kCreated, kExists, kFailed };

// A file kept open for appending lines (the log file), shared for reading
// only. While it is open the file counts as in use (IsFileInUse), so that no
// other process's clean-up removes it.
class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Creates the file, replacing an existing one.
  bool Create(const std::string& path);
  // Creates the file only if nothing of that name exists (atomically: of two
  // processes racing for one name exactly one gets kCreated); never replaces.
  // On POSIX the file is for its user only (0600): logs may name what a
  // player does.
  CreateResult CreateNew(const std::string& path);
  bool IsOpen() const;
  // Moves to the end of the file; returns 0 or the system's error code.
  int SeekToEnd();
  void Write(const void* data, size_t size);
  void Close();

 private:
  intptr_t handle_ = -1;
};

}  // namespace udra::platform

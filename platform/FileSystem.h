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

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& out);
// Creates or replaces a file with `size` bytes.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);

// A file kept open for appending lines (the log file): created, replacing an
// existing one, shared for reading only.
class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  bool Create(const std::string& path);
  bool IsOpen() const;
  // Moves to the end of the file; returns 0 or the system's error code.
  int SeekToEnd();
  void Write(const void* data, size_t size);
  void Close();

 private:
  intptr_t handle_ = -1;
};

}  // namespace udra::platform

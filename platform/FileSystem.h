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

// True while some process holds `path` open as a LogAppendFile (on POSIX by the
// advisory lock the LogAppendFile takes; on Windows by any handle that keeps the
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

// What went wrong with a file operation, as far as its callers tell cases apart.
enum class FileError {
  kNone,
  kNotFound,     // the file or a folder of its path does not exist
  kExists,       // the name is taken
  kDiskFull,     // no space left (or the user's quota is used up)
  kCrossDevice,  // a move between two file systems (volumes)
  kEnd,          // a read reached the end of the file first
  kOther,
};

// Size of the regular file `path`, -1 when it is none or cannot be read.
int64_t RegularFileSize(const std::string& path);

// Creates `path` and every missing parent for the user only (POSIX: mode
// 0700; Windows: the folder's inherited access rules); true when it is a
// folder afterwards. An existing folder is left as it is.
bool MakePrivateDirectories(const std::string& path);

// Bytes an unprivileged process may still write on the volume that holds
// `path` or, while it does not exist, its nearest existing parent; -1 when
// that cannot be told.
int64_t FreeDiskBytes(const std::string& path);

struct FolderEntry {
  std::string name;
  bool regular = false;  // a regular file (links are not followed)
  uint64_t size = 0;     // its size; 0 for anything else
};
// The entries of `folder` without "." and ".."; kNotFound when it does not exist.
FileError ListFolder(const std::string& folder, std::vector<FolderEntry>& entries);

// Removes the file `path`; true when no file of that name is left.
bool RemoveFileIfPresent(const std::string& path);

// Renames `from` to `to`, replacing a file there, and makes the new name last
// on disk as far as the system offers (Windows: MOVEFILE_WRITE_THROUGH).
// kCrossDevice when the two are on different file systems: nothing moved.
FileError RenameFile(const std::string& from, const std::string& to);

// Gives `from` the name `to` unless a file already has it (kExists; then
// `from` stays). Of two processes racing for one name exactly one succeeds,
// except on POSIX file systems without hard links, where the check and the
// rename are two steps.
FileError RenameNoReplace(const std::string& from, const std::string& to);

// What tells two files apart on one machine (device and file number); a
// file replaced under its name gets another identity.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity& o) const { return volume == o.volume && index == o.index; }
  bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};
bool IdentityOf(const std::string& path, FileIdentity& identity);

// The UTF-8 form of a path for libraries that take UTF-8 file names
// (SQLite): on Windows the ANSI path converted, elsewhere the bytes as they
// are, since those file systems take names as bytes. Empty when a Windows
// path cannot be converted.
std::string PathForUtf8Api(const std::string& path);

enum class CreateResult { kCreated, kExists, kFailed };

// A file kept open for appending lines (the log file), shared for reading
// only. (Not the host's AppendFile of platform/AppendFile.h: two classes of
// one name would share their out-of-line members' symbols.) While it is open the file counts as in use (IsFileInUse), so that no
// other process's clean-up removes it.
class LogAppendFile {
 public:
  LogAppendFile() = default;
  ~LogAppendFile();
  LogAppendFile(const LogAppendFile&) = delete;
  LogAppendFile& operator=(const LogAppendFile&) = delete;

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

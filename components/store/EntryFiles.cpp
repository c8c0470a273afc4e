#include "components/store/EntryFiles.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/Process.h"
#include "platform/System.h"

namespace udra::store {

namespace {

using platform::FileError;
using platform::RandomAccessFile;

constexpr size_t kMaxTokenLength = 64;

ZavErrorCode CodeOf(FileError error) { return error == FileError::kDiskFull ? kZavErrDiskFull : kZavErrIo; }

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// The process that made the file `token`, 0 when the token names none.
long MakerOf(const std::string& token) {
  char* end = nullptr;
  long pid = std::strtol(token.c_str(), &end, 10);
  return end != nullptr && *end == '-' && pid > 0 ? pid : 0;
}

// Creates the entry file at `path`, fills it with `fill` and flushes it to
// disk; on any failure the file is removed again.
template <typename Fill>
ZavErrorCode CreateFilled(const std::string& path, Fill fill) {
  RandomAccessFile file;
  FileError error = file.Open(path, RandomAccessFile::Mode::kCreateNew);
  if (error != FileError::kNone) return CodeOf(error);
  error = fill(file);
  if (error == FileError::kNone) error = file.Sync();
  if (error == FileError::kNone) return kZavOk;
  file.Close();
  platform::RemoveFileIfPresent(path);
  return CodeOf(error);
}

}  // namespace

std::string EntryFiles::NewToken() {
  static std::atomic<unsigned> counter{0};
  const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  char token[kMaxTokenLength];
  snprintf(token, sizeof token, "%ld-%llx-%x", static_cast<long>(platform::CurrentProcessId()),
           static_cast<unsigned long long>(now.count()), counter.fetch_add(1));
  return token;
}

bool EntryFiles::IsToken(const std::string& token) {
  if (token.empty() || token.size() > kMaxTokenLength || MakerOf(token) == 0) return false;
  int dashes = 0;
  char previous = '-';
  for (char c : token) {
    if (c == '-') {
      if (previous == '-') return false;  // an empty part
      ++dashes;
    } else if (!IsHex(c)) {
      return false;
    }
    previous = c;
  }
  return dashes == 2 && previous != '-';
}

ZavErrorCode EntryFiles::WriteNew(const std::string& token, const void* data, uint32_t size) const {
  return CreateFilled(PathOf(token), [&](RandomAccessFile& file) { return file.Write(data, size); });
}

ZavErrorCode EntryFiles::CopyNew(const std::string& token, const RandomAccessFile& source, uint32_t size) const {
  return CreateFilled(PathOf(token), [&](RandomAccessFile& file) { return file.AppendFrom(source, size); });
}

ZavErrorCode EntryFiles::MoveNew(const std::string& token, const std::string& sourcePath, RandomAccessFile& source,
                                 uint32_t size, bool& moved) const {
  moved = false;
  // The bytes reach the disk before any row can name them.
  FileError error = source.Sync();
  if (error != FileError::kNone) return CodeOf(error);
  error = platform::RenameFile(sourcePath, PathOf(token));
  if (error == FileError::kNone) {
    moved = true;
    return kZavOk;
  }
  return error == FileError::kCrossDevice ? CopyNew(token, source, size) : CodeOf(error);
}

bool EntryFiles::MoveBack(const std::string& token, const std::string& source) const {
  return platform::RenameFile(PathOf(token), source) == FileError::kNone;
}

bool EntryFiles::Holds(const std::string& token, uint32_t size) const {
  return platform::RegularFileSize(PathOf(token)) == static_cast<int64_t>(size);
}

ZavErrorCode EntryFiles::Read(const std::string& token, uint32_t size, uint32_t offset, void* buffer,
                              uint32_t count) const {
  RandomAccessFile file;
  const FileError opened = file.Open(PathOf(token), RandomAccessFile::Mode::kRead);
  if (opened != FileError::kNone) return opened == FileError::kNotFound ? kZavErrChanged : kZavErrIo;
  bool regular = false;
  uint64_t actual = 0;
  if (!file.Describe(regular, actual)) return kZavErrIo;
  if (!regular || actual != size) return kZavErrChanged;
  if (static_cast<uint64_t>(offset) + count > size) return kZavErrArgument;
  const FileError error = file.ReadAt(buffer, count, offset);
  if (error == FileError::kNone) return kZavOk;
  return error == FileError::kEnd ? kZavErrChanged : kZavErrIo;
}

void EntryFiles::Remove(const std::string& token) const { platform::RemoveFileIfPresent(PathOf(token)); }

void EntryFiles::RemoveAbandoned(const std::function<bool(const std::string& token)>& isReferenced) const {
  std::vector<platform::FolderEntry> entries;
  if (platform::ListFolder(folder_, entries) != FileError::kNone) return;
  const long self = static_cast<long>(platform::CurrentProcessId());
  for (const platform::FolderEntry& e : entries) {
    if (!IsToken(e.name)) continue;
    const long maker = MakerOf(e.name);
    if (maker == self || platform::ProcessRunning(maker)) continue;
    if (!isReferenced(e.name)) Remove(e.name);
  }
}

bool EntryFiles::RemoveAll() const {
  std::vector<platform::FolderEntry> entries;
  const FileError error = platform::ListFolder(folder_, entries);
  if (error != FileError::kNone) return error == FileError::kNotFound;
  bool ok = true;
  for (const platform::FolderEntry& e : entries) {
    if (!platform::RemoveFileIfPresent(PathOf(e.name))) ok = false;
  }
  return ok;
}

int64_t EntryFiles::TotalSize() const {
  std::vector<platform::FolderEntry> entries;
  if (platform::ListFolder(folder_, entries) != FileError::kNone) return 0;
  int64_t total = 0;
  for (const platform::FolderEntry& e : entries) total += static_cast<int64_t>(e.size);
  return total;
}

}  // namespace udra::store

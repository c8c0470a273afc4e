#include "platform/RandomAccessFile.h"

#include <windows.h>

#include <vector>

#include "platform/win32/FileErrors.h"

namespace udra::platform {

namespace {

constexpr size_t kCopyChunk = 1 << 20;
// ReadFile and WriteFile take a DWORD count: larger transfers go in parts.
constexpr size_t kMaxTransfer = 1u << 30;

HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

RandomAccessFile::~RandomAccessFile() { Close(); }

FileError RandomAccessFile::Open(const std::string& path, Mode mode) {
  Close();
  HANDLE file = mode == Mode::kRead
                    ? CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                    : CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FileErrorOf(GetLastError());
  handle_ = reinterpret_cast<intptr_t>(file);
  return FileError::kNone;
}

void RandomAccessFile::Close() {
  if (handle_ != kClosed) CloseHandle(Handle(handle_));
  handle_ = kClosed;
}

bool RandomAccessFile::Describe(bool& regular, uint64_t& size) const {
  LARGE_INTEGER length;
  if (handle_ == kClosed) return false;
  regular = GetFileType(Handle(handle_)) == FILE_TYPE_DISK;
  if (!regular) {
    size = 0;
    return true;
  }
  if (!GetFileSizeEx(Handle(handle_), &length) || length.QuadPart < 0) return false;
  size = uint64_t(length.QuadPart);
  return true;
}

FileError RandomAccessFile::ReadAt(void* buffer, size_t size, uint64_t offset) const {
  char* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    // An OVERLAPPED with an offset makes a synchronous handle read there.
    OVERLAPPED at{};
    const uint64_t position = offset + done;
    at.Offset = DWORD(position);
    at.OffsetHigh = DWORD(position >> 32);
    const DWORD want = DWORD(size - done < kMaxTransfer ? size - done : kMaxTransfer);
    DWORD n = 0;
    if (!ReadFile(Handle(handle_), out + done, want, &n, &at)) {
      const DWORD error = GetLastError();
      return error == ERROR_HANDLE_EOF ? FileError::kEnd : FileErrorOf(error);
    }
    if (n == 0) return FileError::kEnd;
    done += n;
  }
  return FileError::kNone;
}

FileError RandomAccessFile::Write(const void* data, size_t size) {
  const char* in = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const DWORD want = DWORD(size - done < kMaxTransfer ? size - done : kMaxTransfer);
    DWORD n = 0;
    if (!WriteFile(Handle(handle_), in + done, want, &n, nullptr)) return FileErrorOf(GetLastError());
    if (n == 0) return FileError::kOther;
    done += n;
  }
  return FileError::kNone;
}

FileError RandomAccessFile::AppendFrom(const RandomAccessFile& source, uint64_t size) {
  std::vector<char> buffer(size < kCopyChunk ? size_t(size) : kCopyChunk);
  uint64_t done = 0;
  while (done < size) {
    const size_t n = size - done < buffer.size() ? size_t(size - done) : buffer.size();
    FileError error = source.ReadAt(buffer.data(), n, done);
    if (error == FileError::kNone) error = Write(buffer.data(), n);
    if (error != FileError::kNone) return error;
    done += n;
  }
  return FileError::kNone;
}

FileError RandomAccessFile::Sync() {
  if (FlushFileBuffers(Handle(handle_))) return FileError::kNone;
  DWORD error = GetLastError();
  if (error != ERROR_ACCESS_DENIED) return FileErrorOf(error);
  // A handle opened for reading cannot be flushed: flush the same file
  // through a second handle with write access.
  HANDLE writable = ReOpenFile(Handle(handle_), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (writable == INVALID_HANDLE_VALUE) return FileErrorOf(GetLastError());
  const bool flushed = FlushFileBuffers(writable) != 0;
  error = GetLastError();
  CloseHandle(writable);
  return flushed ? FileError::kNone : FileErrorOf(error);
}

}  // namespace udra::platform

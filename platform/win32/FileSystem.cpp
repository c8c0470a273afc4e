#include "platform/FileSystem.h"

#include <windows.h>

#include <cstdint>

#include "platform/CodePage.h"
#include "platform/win32/FileErrors.h"

namespace udra::platform {

char PathSeparator() { return '\\'; }
bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

bool FileExists(const std::string& path) {
  return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsRegularFile(const std::string& path) {
  if (path.empty()) return false;
  // No access rights: only the kind of the object is asked for. A folder
  // cannot be opened this way, a device ("CON", "COM1") can, and is no disk file.
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool regular = GetFileType(file) == FILE_TYPE_DISK;
  CloseHandle(file);
  return regular;
}

bool MakeDirectories(const std::string& path) {
  if (path.empty() || path.find_first_of("<>\"|*?") != std::string::npos) return false;
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && !IsPathSeparator(path[at])) continue;
    const std::string part = path.substr(0, at);
    if (part.size() == 2 && part[1] == ':') continue;  // a drive
    if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return IsDirectory(path);
}

std::vector<FoundFile> FindFiles(const std::string& folder, const std::string& prefix,
                                 const std::string& suffix, size_t maxCount) {
  std::vector<FoundFile> found;
  const std::string pattern = folder + "\\" + prefix + "*" + suffix;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return found;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    ULARGE_INTEGER t;
    t.LowPart = data.ftCreationTime.dwLowDateTime;
    t.HighPart = data.ftCreationTime.dwHighDateTime;
    found.push_back({folder + "\\" + data.cFileName, int64_t(t.QuadPart)});
  } while (found.size() < maxCount && FindNextFileA(find, &data));
  FindClose(find);
  return found;
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool IsFileInUse(const std::string& path) {
  // Asking for delete access fails with a sharing violation while any handle
  // that does not share deletion is open, as a LogAppendFile's is.
  HANDLE file = CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
  }
  CloseHandle(file);
  return false;
}

// DeleteFileA itself fails on a file another handle holds without sharing
// deletion, so the check and the removal are one step.
bool RemoveUnusedFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool ReadWholeFile(const std::string& path, std::string& out) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
            uint64_t(size.QuadPart) < (1ull << 31);
  if (ok) {
    out.resize(size_t(size.QuadPart));
    size_t done = 0;
    while (ok && done < out.size()) {
      DWORD n = 0;
      ok = ReadFile(file, &out[done], DWORD(out.size() - done), &n, nullptr) && n > 0;
      done += n;
    }
  }
  CloseHandle(file);
  if (!ok) out.clear();
  return ok;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = size == 0 || (WriteFile(file, data, DWORD(size), &written, nullptr) && written == size);
  CloseHandle(file);
  return ok;
}

int64_t RegularFileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsRegularFile(path)) {
    return -1;
  }
  return int64_t((uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

// The folder that holds `path`, or `path` itself for a root ("C:\", "\")
// and "." for a bare name. ANSI paths are walked with their double-byte
// characters in mind: a trail byte may equal '\'.
static std::string ParentOf(const std::string& path) {
  std::vector<size_t> separators;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsAnsiLeadByte(static_cast<unsigned char>(path[i]))) {
      ++i;
    } else if (IsPathSeparator(path[i])) {
      separators.push_back(i);
    }
  }
  // Without its trailing separators.
  size_t end = path.size();
  while (!separators.empty() && separators.back() + 1 == end) {
    end = separators.back();
    separators.pop_back();
  }
  if (end == 0 || (end == 2 && path[1] == ':')) return path;  // a root
  if (separators.empty()) return ".";
  size_t cut = separators.back();
  separators.pop_back();
  while (!separators.empty() && separators.back() + 1 == cut) {
    cut = separators.back();
    separators.pop_back();
  }
  if (cut == 0) return path.substr(0, 1);                   // "\name"
  if (cut == 2 && path[1] == ':') return path.substr(0, 3);  // "C:\name"
  return path.substr(0, cut);
}

bool MakePrivateDirectories(const std::string& path) {
  if (path.empty() || path.find_first_of("<>\"|*?") != std::string::npos) return false;
  std::vector<std::string> missing;
  std::string at = path;
  for (size_t guard = 0; guard <= path.size() && !FileExists(at); ++guard) {
    missing.push_back(at);
    const std::string parent = ParentOf(at);
    if (parent == at || parent == ".") break;
    at = parent;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!CreateDirectoryA(it->c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return IsDirectory(path);
}

int64_t FreeDiskBytes(const std::string& path) {
  std::string probe = path.empty() ? "." : path;
  for (size_t guard = 0; guard <= path.size() + 1; ++guard) {
    ULARGE_INTEGER available;
    if (IsDirectory(probe) && GetDiskFreeSpaceExA(probe.c_str(), &available, nullptr, nullptr)) {
      return available.QuadPart > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(available.QuadPart);
    }
    if (IsDirectory(probe)) return -1;  // there, but its volume does not answer
    const std::string parent = ParentOf(probe);
    if (parent == probe) return -1;
    probe = parent;
  }
  return -1;
}

FileError ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
  entries.clear();
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return FileError::kNone;  // an empty folder (a drive root)
    return FileErrorOf(error);
  }
  do {
    FolderEntry entry;
    entry.name = data.cFileName;
    if (entry.name == "." || entry.name == "..") continue;
    const DWORD notRegular = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if ((data.dwFileAttributes & notRegular) == 0) {
      entry.regular = true;
      entry.size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    entries.push_back(std::move(entry));
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return FileError::kNone;
}

bool RemoveFileIfPresent(const std::string& path) {
  if (DeleteFileA(path.c_str())) return true;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

FileError RenameFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? FileError::kNone
             : FileErrorOf(GetLastError());
}

// Without MOVEFILE_REPLACE_EXISTING the move fails on a taken name, in one step.
FileError RenameNoReplace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) ? FileError::kNone
                                                                        : FileErrorOf(GetLastError());
}

bool IdentityOf(const std::string& path, FileIdentity& identity) {
  // No access rights are needed to read a file's number.
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  if (!ok) return false;
  identity.volume = info.dwVolumeSerialNumber;
  identity.index = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

std::string PathForUtf8Api(const std::string& path) { return AnsiToUtf8(path); }

LogAppendFile::~LogAppendFile() { Close(); }

bool LogAppendFile::Create(const std::string& path) {
  Close();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

CreateResult LogAppendFile::CreateNew(const std::string& path) {
  Close();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? CreateResult::kExists
                                                                        : CreateResult::kFailed;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return CreateResult::kCreated;
}

bool LogAppendFile::IsOpen() const { return handle_ != -1; }

int LogAppendFile::SeekToEnd() {
  if (SetFilePointer(reinterpret_cast<HANDLE>(handle_), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER) {
    const DWORD error = GetLastError();
    if (error != NO_ERROR) return int(error);
  }
  return 0;
}

void LogAppendFile::Write(const void* data, size_t size) {
  DWORD written = 0;
  if (handle_ != -1) WriteFile(reinterpret_cast<HANDLE>(handle_), data, DWORD(size), &written, nullptr);
}

void LogAppendFile::Close() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

}  // namespace udra::platform

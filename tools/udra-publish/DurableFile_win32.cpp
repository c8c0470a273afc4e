#include <windows.h>
// The system header maps ReplaceFile to ReplaceFileW; ours is a function of its own.
#undef ReplaceFile

#include "DurableFile.h"

namespace udra::publish {

// Every file is flushed as it is written, so FlushWritten has nothing left
// to do. NTFS journals folder entries itself.
CreateResult CreateNewFile(const std::filesystem::path& path, const void* data, size_t size,
                           bool /*flush*/) {
  const HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? CreateResult::kExists
                                                                     : CreateResult::kFailed;
  }
  const char* at = static_cast<const char*>(data);
  bool ok = true;
  while (ok && size > 0) {
    const DWORD chunk = size > (1u << 30) ? DWORD(1u << 30) : DWORD(size);
    DWORD written = 0;
    ok = WriteFile(file, at, chunk, &written, nullptr) != 0 && written == chunk;
    at += written;
    size -= written;
  }
  ok = ok && FlushFileBuffers(file) != 0;
  ok = CloseHandle(file) != 0 && ok;
  if (!ok) {
    DeleteFileW(path.wstring().c_str());
    return CreateResult::kFailed;
  }
  return CreateResult::kCreated;
}

bool ReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  return MoveFileExW(from.wstring().c_str(), to.wstring().c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool FlushWritten(const std::vector<std::filesystem::path>&,
                  const std::vector<std::filesystem::path>&) {
  return true;
}

bool FlushFolder(const std::filesystem::path&) { return true; }

unsigned long ProcessId() { return static_cast<unsigned long>(GetCurrentProcessId()); }

}  // namespace udra::publish

#include "platform/AppendFile.h"

#include <windows.h>

#include <cstring>

namespace udra::platform {
namespace {

// Bytes are gathered to 64 KiB before a WriteFile: the download callbacks
// hand over a few KiB at a time.
class HandleAppendFile final : public AppendFile {
 public:
  HandleAppendFile(HANDLE file, int64_t size) : file_(file), size_(size) {}
  ~HandleAppendFile() override {
    Flush();
    CloseHandle(file_);
  }

  int64_t size() const override { return size_; }

  bool Truncate() override {
    if (!Flush()) return false;
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file_, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)) return false;
    size_ = 0;
    return true;
  }

  bool Write(const void* data, size_t size) override {
    if (failed_) return false;
    if (used_ + size > kBuffer && !Flush()) return false;
    if (size >= kBuffer) {
      if (!WriteAll(data, size)) return false;
    } else {
      memcpy(buffer_ + used_, data, size);
      used_ += size;
    }
    size_ += static_cast<int64_t>(size);
    return true;
  }

  bool Flush() override {
    if (failed_) return false;
    const size_t used = used_;
    used_ = 0;
    return used == 0 || WriteAll(buffer_, used);
  }

  void StartWriteback(int64_t, int64_t) override {}

 private:
  static constexpr size_t kBuffer = 64 << 10;

  bool WriteAll(const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
      const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!WriteFile(file_, bytes, chunk, &written, nullptr) || written == 0) {
        failed_ = true;  // what follows would leave a hole in the file
        return false;
      }
      bytes += written;
      size -= written;
    }
    return true;
  }

  HANDLE file_;
  int64_t size_;
  bool failed_ = false;
  size_t used_ = 0;
  char buffer_[kBuffer];
};

}  // namespace

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path) {
  // Shared for reading and deletion: the store may take the file over by
  // renaming it once it is closed, and a reader may look at it meanwhile.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  LARGE_INTEGER size{}, zero{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size) ||
      !SetFilePointerEx(file, zero, nullptr, FILE_END)) {
    CloseHandle(file);
    return nullptr;
  }
  return std::make_unique<HandleAppendFile>(file, static_cast<int64_t>(size.QuadPart));
}

bool MakePrivateFolder(const std::string& folder) {
  if (CreateDirectoryA(folder.c_str(), nullptr)) return true;
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace udra::platform

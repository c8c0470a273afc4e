#include "platform/AppendFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace udra::platform {
namespace {

// Buffered through stdio: the download callbacks hand over a few KiB at a
// time, which one write call per callback would cost dearly.
class StdioAppendFile final : public AppendFile {
 public:
  StdioAppendFile(FILE* file, int64_t size) : file_(file), size_(size) {}
  ~StdioAppendFile() override { fclose(file_); }

  int64_t size() const override { return size_; }

  bool Truncate() override {
    if (fflush(file_) != 0 || ftruncate(fileno(file_), 0) != 0) return false;
    size_ = 0;
    return true;
  }

  bool Write(const void* data, size_t size) override {
    if (fwrite(data, 1, size, file_) != size) return false;
    size_ += static_cast<int64_t>(size);
    return true;
  }

  bool Flush() override { return fflush(file_) == 0; }

  void StartWriteback(int64_t from, int64_t length) override {
    sync_file_range(fileno(file_), from, length, SYNC_FILE_RANGE_WRITE);
  }

 private:
  FILE* file_;
  int64_t size_;
};

}  // namespace

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  if ((st.st_mode & 077) != 0) fchmod(fd, 0600);
  FILE* file = fdopen(fd, "ab");
  if (!file) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<StdioAppendFile>(file, static_cast<int64_t>(st.st_size));
}

bool MakePrivateFolder(const std::string& folder) {
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid == geteuid() && (st.st_mode & 077) != 0) chmod(folder.c_str(), st.st_mode & 0700);
  return true;
}

}  // namespace udra::platform

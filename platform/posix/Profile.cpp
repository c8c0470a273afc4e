#include "platform/Profile.h"

#include <cstdlib>
#include <mutex>

#include "platform/FileSystem.h"
#include "platform/posix/IniFile.h"

namespace udra::platform {
namespace {

// Serialises read-modify-write cycles of this process.
std::mutex& ProfileLock() {
  static std::mutex lock;
  return lock;
}

std::string ReadText(const std::string& path) {
  std::string text;
  std::lock_guard<std::mutex> guard(ProfileLock());
  if (!ReadWholeFile(path, text)) text.clear();  // a FIFO or folder is refused, never waited on
  return text;
}

int ParseInt(const std::string& value) {
  size_t i = 0;
  bool negative = false;
  if (value[i] == '+' || value[i] == '-') negative = value[i++] == '-';
  long long n = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    n = n * 10 + (value[i] - '0');
    if (n > 0xFFFFFFFFll) n = 0xFFFFFFFFll;
  }
  return int(uint32_t(negative ? -n : n));
}

}  // namespace

struct ProfileFile::Impl {
  explicit Impl(const std::string& path) : index(ReadText(path)) {}
  IniIndex index;
};

ProfileFile::ProfileFile(const std::string& path) : impl_(std::make_unique<Impl>(path)) {}
ProfileFile::~ProfileFile() = default;

bool ProfileFile::ReadString(const char* section, const char* key, std::string& value, size_t bufferSize) const {
  value.clear();
  if (!section || !key || bufferSize == 0) return false;
  if (!impl_->index.Get(section, key, value)) return false;
  if (value.size() > bufferSize - 1) value.resize(bufferSize - 1);
  return true;
}

int ProfileFile::ReadInt(const char* section, const char* key, int defaultValue) const {
  std::string value;
  if (!ReadString(section, key, value, 260) || value.empty()) return defaultValue;
  return ParseInt(value);
}

std::vector<std::string> ProfileFile::KeyNames(const char* section) const {
  return section ? impl_->index.Keys(section) : std::vector<std::string>();
}

bool ReadProfileString(const std::string& file, const char* section, const char* key,
                       std::string& value, size_t bufferSize) {
  return ProfileFile(file).ReadString(section, key, value, bufferSize);
}

int ReadProfileInt(const std::string& file, const char* section, const char* key, int defaultValue) {
  return ProfileFile(file).ReadInt(section, key, defaultValue);
}

bool WriteProfileString(const std::string& file, const char* section, const char* key,
                        const char* value) {
  if (!section || !key || file.empty()) return false;
  std::lock_guard<std::mutex> guard(ProfileLock());
  std::string text;
  if (FileExists(file) && !ReadWholeFile(file, text)) return false;
  IniFile ini(std::move(text));
  ini.Set(section, key, value);
  // Replace the file as a whole so a crash never leaves half a file.
  const std::string temp = file + ".tmp";
  if (!WriteWholeFile(temp, ini.text().data(), ini.text().size())) {
    RemoveFile(temp);
    return false;
  }
  if (std::rename(temp.c_str(), file.c_str()) != 0) {
    RemoveFile(temp);
    return false;
  }
  return true;
}

}  // namespace udra::platform

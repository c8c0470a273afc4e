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

}  // namespace

bool ReadProfileString(const std::string& file, const char* section, const char* key,
                       std::string& value, size_t bufferSize) {
  value.clear();
  if (!section || !key || bufferSize == 0) return false;
  std::string text;
  {
    std::lock_guard<std::mutex> guard(ProfileLock());
    if (!ReadWholeFile(file, text)) return false;
  }
  if (!IniFile(std::move(text)).Get(section, key, value)) return false;
  if (value.size() > bufferSize - 1) value.resize(bufferSize - 1);
  return true;
}

int ReadProfileInt(const std::string& file, const char* section, const char* key, int defaultValue) {
  std::string value;
  if (!ReadProfileString(file, section, key, value, 260) || value.empty()) return defaultValue;
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

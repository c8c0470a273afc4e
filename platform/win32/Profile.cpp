#include "platform/Profile.h"

#include <windows.h>

// windows.h maps WriteProfileString to WriteProfileStringA.
#undef WriteProfileString

#include <cstring>
#include <vector>

namespace udra::platform {
namespace {

// A default no real value can hold: a missing key is told from an empty one
// by getting this back (GetLastError is not reliable for that).
const char kMissing[] = "\x01\x02udra-missing\x03";

// The profile functions would read a device ("CON" in any folder is the
// console) as if it were a file, and wait on it. Something that opens and is
// no disk file reads as missing; what does not open is left to the system.
bool Refused(const std::string& file) {
  HANDLE handle = CreateFileA(file.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool refused = GetFileType(handle) != FILE_TYPE_DISK;
  CloseHandle(handle);
  return refused;
}

bool ReadValue(const std::string& file, const char* section, const char* key, std::string& value,
               size_t bufferSize) {
  if (!section || !key || bufferSize == 0) return false;
  std::vector<char> buffer(bufferSize < sizeof kMissing + 1 ? sizeof kMissing + 1 : bufferSize + 1);
  const DWORD n = GetPrivateProfileStringA(section, key, kMissing, buffer.data(), DWORD(buffer.size()), file.c_str());
  if (std::string(buffer.data(), n) == kMissing) return false;
  value.assign(buffer.data(), n);
  if (value.size() > bufferSize - 1) value.resize(bufferSize - 1);
  return true;
}

}  // namespace

struct ProfileFile::Impl {
  std::string path;
  bool refused;
};

ProfileFile::ProfileFile(const std::string& path) : impl_(new Impl{path, Refused(path)}) {}
ProfileFile::~ProfileFile() = default;

bool ProfileFile::ReadString(const char* section, const char* key, std::string& value, size_t bufferSize) const {
  value.clear();
  return !impl_->refused && ReadValue(impl_->path, section, key, value, bufferSize);
}

int ProfileFile::ReadInt(const char* section, const char* key, int defaultValue) const {
  return impl_->refused ? defaultValue
                        : int(GetPrivateProfileIntA(section, key, defaultValue, impl_->path.c_str()));
}

std::vector<std::string> ProfileFile::KeyNames(const char* section) const {
  std::vector<std::string> names;
  if (impl_->refused || !section) return names;
  // With no key name the system lists the section's keys, each ended by a
  // NUL; a list that does not fit comes back as the buffer size less two.
  std::vector<char> buffer(4096);
  DWORD n = 0;
  for (;;) {
    n = GetPrivateProfileStringA(section, nullptr, "", buffer.data(), DWORD(buffer.size()), impl_->path.c_str());
    if (n + 2 < buffer.size() || buffer.size() >= (64u << 20)) break;
    buffer.resize(buffer.size() * 2);
  }
  for (size_t at = 0; at < n;) {
    const size_t length = std::strlen(buffer.data() + at);
    if (length) names.emplace_back(buffer.data() + at, length);
    at += length + 1;
  }
  return names;
}

bool ReadProfileString(const std::string& file, const char* section, const char* key,
                       std::string& value, size_t bufferSize) {
  value.clear();
  return !Refused(file) && ReadValue(file, section, key, value, bufferSize);
}

int ReadProfileInt(const std::string& file, const char* section, const char* key, int defaultValue) {
  return Refused(file) ? defaultValue : int(GetPrivateProfileIntA(section, key, defaultValue, file.c_str()));
}

bool WriteProfileString(const std::string& file, const char* section, const char* key,
                        const char* value) {
  return WritePrivateProfileStringA(section, key, value, file.c_str()) != 0;
}

}  // namespace udra::platform

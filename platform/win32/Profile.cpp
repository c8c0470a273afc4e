#include "platform/Profile.h"

#include <windows.h>

// windows.h maps WriteProfileString to WriteProfileStringA.
#undef WriteProfileString

#include <vector>

namespace udra::platform {
namespace {

// A default no real value can hold: a missing key is told from an empty one
// by getting this back (GetLastError is not reliable for that).
const char kMissing[] = "\x01\x02udra-missing\x03";

}  // namespace

bool ReadProfileString(const std::string& file, const char* section, const char* key,
                       std::string& value, size_t bufferSize) {
  value.clear();
  if (!section || !key || bufferSize == 0) return false;
  std::vector<char> buffer(bufferSize < sizeof kMissing + 1 ? sizeof kMissing + 1 : bufferSize + 1);
  const DWORD n = GetPrivateProfileStringA(section, key, kMissing, buffer.data(), DWORD(buffer.size()), file.c_str());
  if (std::string(buffer.data(), n) == kMissing) return false;
  value.assign(buffer.data(), n);
  if (value.size() > bufferSize - 1) value.resize(bufferSize - 1);
  return true;
}

int ReadProfileInt(const std::string& file, const char* section, const char* key, int defaultValue) {
  return int(GetPrivateProfileIntA(section, key, defaultValue, file.c_str()));
}

bool WriteProfileString(const std::string& file, const char* section, const char* key,
                        const char* value) {
  return WritePrivateProfileStringA(section, key, value, file.c_str()) != 0;
}

}  // namespace udra::platform

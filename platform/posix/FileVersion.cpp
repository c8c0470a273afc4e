#include "platform/FileVersion.h"

#include <cstdio>
#include <cstring>

#include "platform/FileSystem.h"
#include "platform/VersionRecord.h"

namespace udra::platform {

bool ReadFileVersion(const std::string& path, uint16_t version[4]) {
  std::string image;
  if (!ReadWholeFile(path, image)) return false;
  const char* marker = UDRA_VERSION_MARKER;
  const size_t markerSize = std::strlen(marker);
  for (size_t at = image.find(marker); at != std::string::npos; at = image.find(marker, at + 1)) {
    const size_t begin = at + markerSize;
    const size_t end = image.find('\0', begin);
    if (end == std::string::npos || end - begin > 64) continue;
    unsigned parts[4];
    char tail;
    if (std::sscanf(image.c_str() + begin, "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) != 4)
      continue;
    bool fits = true;
    for (int i = 0; i < 4; ++i) fits = fits && parts[i] <= 0xFFFF;
    if (!fits) continue;
    for (int i = 0; i < 4; ++i) version[i] = uint16_t(parts[i]);
    return true;
  }
  return false;
}

}  // namespace udra::platform

// The FileError of a GetLastError value.
#pragma once

#include <windows.h>

#include "platform/FileSystem.h"

namespace udra::platform {

inline FileError FileErrorOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DELETE_PENDING:  // removed, still open somewhere: gone for new openers
      return FileError::kNotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return FileError::kExists;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FileError::kDiskFull;
    case ERROR_NOT_SAME_DEVICE:
      return FileError::kCrossDevice;
    default:
      return FileError::kOther;
  }
}

}  // namespace udra::platform

// The FileError of an errno value.
#pragma once

#include <errno.h>

#include "platform/FileSystem.h"

namespace udra::platform {

inline FileError FileErrorOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return FileError::kNotFound;
    case EEXIST:
      return FileError::kExists;
    case ENOSPC:
    case EDQUOT:
      return FileError::kDiskFull;
    case EXDEV:
      return FileError::kCrossDevice;
    default:
      return FileError::kOther;
  }
}

}  // namespace udra::platform

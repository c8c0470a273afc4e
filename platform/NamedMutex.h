// Mutexes shared between processes by name.
//
// POSIX: a lock file in the user's private runtime folder held with an
// open-file-description lock (tested, never taken, by Exists).
// The mutex "exists" exactly while some holder holds it, and a holder that
// dies releases it with its process, so a crashed process is never taken for
// a live one. Win32: CreateMutexA/OpenMutexA; it exists while a handle is open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace udra::platform {

class NamedMutex {
 public:
  enum class WaitResult { Acquired, Abandoned, Timeout, Failed };

  // Creates the mutex or opens the existing one (CreateMutexA); with
  // `initiallyOwned` the caller also takes it at once (without waiting);
  // null on failure or when an initial take is refused.
  static std::unique_ptr<NamedMutex> CreateOrOpen(const std::string& name, bool initiallyOwned);
  // Whether the mutex exists (OpenMutexA); never creates it.
  static bool Exists(const std::string& name);

  virtual ~NamedMutex() = default;

  // Takes the mutex, waiting at most `timeoutMs`. Abandoned: taken, but its
  // last holder ended without releasing it. The same thread may take it
  // again; each take needs its release.
  virtual WaitResult Wait(uint32_t timeoutMs) = 0;
  virtual bool Release() = 0;
};

}  // namespace udra::platform

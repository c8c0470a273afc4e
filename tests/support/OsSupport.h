// What tests need of the operating system beyond the platform layer:
// environment variables, FIFOs, and which platform they run on. The POSIX and
// Windows spellings differ, so the one switch between them lives here.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace udra::test {

inline void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetEnv(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");  // an empty value removes the variable
#else
  unsetenv(name);
#endif
}

// True in the Windows build (run under Wine in CI).
constexpr bool kOnWindows =
#ifdef _WIN32
    true;
#else
    false;
#endif

// Makes a FIFO at `path`; false where there are none (Windows).
inline bool MakeFifo(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return false;
#else
  return mkfifo(path.c_str(), 0600) == 0;
#endif
}

}  // namespace udra::test

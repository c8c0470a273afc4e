#include "platform/System.h"

#include <malloc.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "platform/posix/RuntimeFolder.h"

namespace udra::platform {

uint32_t CurrentThreadId() { return uint32_t(syscall(SYS_gettid)); }
uint32_t CurrentProcessId() { return uint32_t(getpid()); }

uint32_t TickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

void SleepMs(uint32_t milliseconds) {
  timespec ts{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

LocalTime Now() {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

int64_t UnixTime() { return int64_t(time(nullptr)); }

std::string AppDataFolder() {
  const char* xdg = getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return xdg;
  const char* home = getenv("HOME");
  if (home && *home == '/') return std::string(home) + "/.config";
  return {};
}

std::string NewGuidText() {
  std::random_device device;
  uint8_t b[16];
  for (int i = 0; i < 16; i += 4) {
    const uint32_t r = device();
    for (int j = 0; j < 4; ++j) b[i + j] = uint8_t(r >> (8 * j));
  }
  b[6] = uint8_t((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = uint8_t((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  char text[40];
  std::snprintf(text, sizeof text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

std::string SystemErrorText(int error) {
  char buffer[256];
  const char* text = strerror_r(error, buffer, sizeof buffer);  // GNU: may return a static text
  return text && *text ? std::string(text) : "error " + std::to_string(error);
}

bool IsAccessDenied(int error) { return error == EACCES || error == EPERM; }

// Above the thresholds glibc gives freed memory back (trimming the heap's
// top, unmapping large blocks); both are raised to the amount asked for.
void KeepFreedMemory(size_t bytes) {
  const int limit = bytes > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(bytes);
  mallopt(M_TRIM_THRESHOLD, limit);
  mallopt(M_MMAP_THRESHOLD, limit);
}

std::string LocalObjectsProblem() { return posix::RuntimeFolderProblem(); }

void DebugOutput(const char* text) {
  static const bool enabled = getenv("UDRA_DEBUG_OUTPUT") != nullptr;
  if (enabled && text) std::fputs(text, stderr);
}

bool EnablePrivilege(const char* name) { return name != nullptr; }

void ShowMessageBox(const char* text, const char* caption) {
  std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
}

}  // namespace udra::platform
